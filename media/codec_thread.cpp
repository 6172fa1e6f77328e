#include "media/codec_thread.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

#include "media/capture.h"
#include "media/resolution_table.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "platform/timer.h"
#include "tdwire.h"

namespace {

constexpr int kIdlePollMs = 500;
constexpr int kInRunPollMs = 40;
constexpr std::int32_t kFirstFrameRate = 5;
// Time left before the next tick when a held picture goes out regardless:
// enough to encode and send a still picture.
constexpr std::int64_t kHoldMarginUs = 5000;

// Sleeps up to ms, returning early once the thread is told to stop.
void IdleWait(ICodecSession& s, int ms) {
  for (int slept = 0; slept < ms && s.codecRunning(); slept += kInRunPollMs) plat::sleepMs(kInRunPollMs);
}

// The values whose change needs a new encoder rather than a reconfigured one.
struct EncoderShape {
  std::int32_t width = -1, height = -1, aspectMode = -1, encodingMode = -1, profile = -1;

  static EncoderShape Of(const FrameEncodeParams& p) {
    using W = FrameEncodeParams;
    return {p.word[W::kWidth], p.word[W::kHeight], p.word[W::kAspectMode], p.word[W::kEncodingMode],
            p.word[W::kProfile]};
  }

  bool needsNewEncoder(const EncoderShape& next) const {
    if (next.width != width || next.height != height || next.aspectMode != aspectMode ||
        next.encodingMode != encodingMode) {
      return true;
    }
    bool profileMatters = encodingMode == 3 || encodingMode == 5 || encodingMode == 6;
    return profileMatters && next.profile != profile;
  }
};

}  // namespace

std::int32_t RateOf(const EncodingParams& p, std::int32_t inForce) {
  // A rate below 1 (a frame rate of 0, or one below its divisor) cannot
  // pace anything: the rate in force stays.
  if (p.frameRateDivisor > 0 && p.frameRate / p.frameRateDivisor >= 1) return p.frameRate / p.frameRateDivisor;
  return inForce;
}

CInFrameStream::CInFrameStream(plat::AutoResetEvent* frameEvent, CCapture* capture, ICodecSession* session)
    : frameEvent_(frameEvent), capture_(capture), session_(session) {}

std::int32_t CInFrameStream::GetFrame(FramePicture* picture, FrameEncodeParams* params) {
  if (!session_->codecRunning() || !session_->isEncoding()) return 1;
  // The tick first, then the grab: the picture is as fresh as it can be
  // when it is encoded, not one period old.
  frameEvent_->wait(tickTimeoutMs);
  const std::int64_t tickUs = plat::monotonicUs();
  if (!session_->codecRunning() || !session_->isEncoding()) return 1;
  // A new record ends the run at this tick; nothing is grabbed for it.
  if (session_->paramsChanged()) return 0;
  // While the socket holds more than the link can carry in a picture or
  // two, this tick's picture is not taken: it would only wait there.
  if (pacer_ && !pacer_->admitNow(tickUs)) return 1;
  // On a still screen this tick's picture would repeat the last one: it is
  // held back until something is drawn or the period is nearly over, so
  // that a change goes out as soon as it is drawn instead of at the next
  // tick. Still one picture a tick.
  const std::int64_t periodUs = 1000000 / frameRate_;
  capture_->WaitForChange(tickUs + periodUs - std::max<std::int64_t>(kHoldMarginUs, periodUs / 5));
  capture_->CaptureFrame();
  samePicture_ = capture_->pictureSerial() == lastPicture_;
  lastPicture_ = capture_->pictureSerial();
  EncodingParams p = session_->copyEncodingParams();
  std::int32_t width = 0, height = 0;
  GetResolution(p.resolutionCode, &width, &height);

  // The picture is described by the size the capture actually scaled to, so
  // a parameter update arriving meanwhile never mismatches planes and strides
  // (the encoder drops a picture whose size is not the one it was opened at).
  // Before anything was ever grabbed (no display, empty area) the planes
  // hold black, which reads as a picture of any size the device asked for.
  CCapture::Size frame = capture_->frameSize();
  if (frame.width <= 0 || frame.height <= 0) frame = capture_->outputSize();
  picture->y = capture_->scaledY();
  picture->u = capture_->scaledU();
  picture->v = capture_->scaledV();
  picture->yStride = frame.width;
  picture->uStride = frame.width / 2;
  picture->vStride = frame.width / 2;
  picture->width = frame.width;
  picture->height = frame.height;
  picture->width2 = frame.width;

  frameRate_ = RateOf(p, frameRate_);

  using W = FrameEncodeParams;
  std::memset(params->word, 0, sizeof params->word);
  params->word[W::kBitrate] = p.bitRate;
  params->word[W::kFrameRate] = frameRate_;
  params->word[W::kMaxPacketSize] = p.maxPacketSize;
  params->word[W::kResolutionCode] = p.resolutionCode;
  params->word[W::kWidth] = width;
  params->word[W::kHeight] = height;
  params->word[W::kAspectMode] = 2;
  params->word[W::kAspectIdcLimit] = 255;
  params->word[W::kSarWidth] = 1;
  params->word[W::kSarHeight] = 1;
  params->word[W::kEncodingMode] = p.encodingMode;
  params->word[W::kProfile] = p.profile;
  params->word[W::kTemporalLayer] = 0;
  std::int32_t vfu = session_->takeVfuRequest();
  params->word[W::kIdrRequest] = vfu;
  params->word[W::kIdrRequest2] = vfu;
  return 0;
}

COutBitStream::COutBitStream(plat::Socket socket, ICodecSession* session) : socket_(socket), session_(session) {}

std::int32_t COutBitStream::Write(const std::uint8_t* data, std::int32_t length) {
  if (length < 12 || length > TD_MAX_SEND_PAYLOAD) return 1;
  td_put_be32(message_, TDMSG_MEDIA);
  td_put_be32(message_ + 4, static_cast<std::uint32_t>(length));
  std::memcpy(message_ + 8, data, static_cast<std::size_t>(length));
  unsigned char* rtp = message_ + 8;
  std::memset(rtp + 4, 0, 8);  // timestamp and source are always 0
  packetCount_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(packetCount_) + 1);
  rtp[2] = static_cast<unsigned char>(packetCount_ >> 8);
  rtp[3] = static_cast<unsigned char>(packetCount_);
  if (session_->sendMessage(socket_, message_, length + 8)) bytesSent_ += length + 8;
  return 1;
}

std::uint32_t CodecThread(void* p) {
  CodecThreadStart start = *static_cast<CodecThreadStart*>(p);
  delete static_cast<CodecThreadStart*>(p);
  ICodecSession& s = *start.session;

  FrameEncodeParams params;
  params.word[FrameEncodeParams::kFrameRate] = kFirstFrameRate;
  FramePicture picture;
  // Kept across runs: a new parameter record does not widen the link.
  CLinkPacer pacer(start.socket);
  bool gaveUp = false;

  while (s.codecRunning()) {
    if (!s.isEncoding()) {
      IdleWait(s, kIdlePollMs);
      continue;
    }

    // One streaming run: one timer period, one encoder, sequence numbers from 1.
    CInFrameStream in(start.frameEvent, &s.capture(), &s);
    COutBitStream out(start.socket, &s);
    IVideoEncoder* encoder = nullptr;
    EncoderShape shape;
    // The period comes from the record in force as the run starts: the one
    // whose arrival ended the last run, however late in its period it came.
    const std::int32_t rate = RateOf(s.copyEncodingParams(), params.word[FrameEncodeParams::kFrameRate]);
    params.word[FrameEncodeParams::kFrameRate] = rate;
    in.setFrameRate(rate);
    in.setPacer(&pacer);
    int periodMs = 1000 / rate;
    plat::PeriodicTimer timer;
    timer.start(periodMs, start.frameEvent);
    in.tickTimeoutMs = 4 * periodMs;

    while (s.codecRunning()) {
      if (!s.isEncoding()) {
        plat::sleepMs(kInRunPollMs);
        continue;
      }
      if (in.GetFrame(&picture, &params) != 0) {
        if (pacer.dead() && !gaveUp) {
          // As a send that makes no progress does: the connection is ended,
          // and the session thread reports it lost.
          gaveUp = true;
          qInfo() << "CodecThread" << __LINE__ << "the link delivered nothing for"
                  << static_cast<int>(CLinkPacer::kStallUs / 1000000) << "s, connection given up";
          plat::shutdownBoth(start.socket);
        }
        continue;
      }
      if (s.paramsChanged()) break;
      EncoderShape next = EncoderShape::Of(params);
      if (!encoder || shape.needsNewEncoder(next)) {
        shape = next;
        delete encoder;
        EncoderConfig config = MakeEncoderConfig(params);
        encoder = CreateVideoEncoder(&config, &out);
      }
      // Created at the device's rate above, so that raising the rate back
      // up to it later reconfigures the encoder rather than reopening it.
      params.word[FrameEncodeParams::kBitrate] =
          pacer.bitRate(params.word[FrameEncodeParams::kBitrate], params.word[FrameEncodeParams::kFrameRate]);
      // No encoder (the library refused the settings): skip the frame; the
      // next one tries again. An unchanged picture is repeated where the
      // encoder can do so without encoding it.
      if (encoder) {
        const std::int64_t before = out.bytesSent();
        if (!(in.samePicture() && encoder->Repeat(&params))) encoder->Encode(&picture, &params);
        pacer.sent(static_cast<long>(out.bytesSent() - before));
      }
    }

    timer.stop();
    delete encoder;
    s.clearParamsChanged();
  }
  return 0;
}
