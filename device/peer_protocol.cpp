#include "device/peer_protocol.h"

#include <cstring>
#include <random>

#include "device/md5.h"
#include "device/media_sink.h"
#include "device/resolution.h"
#include "platform/clock.h"

namespace device {

namespace {

std::uint32_t refusalType(int reason) {
  switch (reason) {
    case 1: return TDMSG_PAIR_REJECTED_1;
    case 2: return TDMSG_PAIR_REJECTED_2;
    case 3: return TDMSG_PAIR_REJECTED_3;
    default: return TDMSG_PAIR_REJECTED;
  }
}

std::string describe(const EncodingRequest& r) {
  int w = 0, h = 0;
  resolutionSize(static_cast<int>(r.resolutionCode), &w, &h);
  return "mode " + std::to_string(r.mode) + ", resolution " + std::to_string(r.resolutionCode) +
         " (" + std::to_string(w) + "x" + std::to_string(h) + "), profile " +
         std::to_string(r.profile) + ", " + std::to_string(r.frameRate) + "/" +
         std::to_string(r.frameRateDivisor) + " fps, " + std::to_string(r.bitRate) +
         " bit/s, packets up to " + std::to_string(r.maxPacketSize) + " bytes";
}

}  // namespace

std::string messageName(std::uint32_t type) {
  switch (type) {
    case TDMSG_PAIR_REJECTED: return "pair-rejected";
    case TDMSG_PAIR_SUCCEED_INDIC: return "pair-succeed";
    case TDMSG_PAIR_BANNER: return "banner";
    case TDMSG_PASSWORD_CHALLENGE: return "password challenge";
    case TDMSG_PASSWORD_DIGEST: return "password answer";
    case TDMSG_START_ENCODING_REQ: return "start request";
    case TDMSG_START_ENCODING_ACK: return "encoding parameters";
    case TDMSG_MEDIA: return "media";
    case TDMSG_KEEPALIVE: return "keep-alive";
    case TDMSG_STOP_ENCODING_REQ: return "stop request";
    case TDMSG_STOP_ENCODING_ACK: return "stop acknowledgement";
    case TDMSG_VFU_REQ: return "intra picture request";
    case TDMSG_UPDATE_ENC_BITRATE_INDIC: return "bit-rate change";
    case TDMSG_PAIR_REJECTED_1: return "pair-rejected (reason 1)";
    case TDMSG_PAIR_REJECTED_2: return "pair-rejected (reason 2)";
    case TDMSG_PAIR_REJECTED_3: return "pair-rejected (reason 3)";
    default: return "type " + std::to_string(type);
  }
}

PeerProtocol::PeerProtocol(int connection, const DeviceOptions& options, DeviceJournal& journal,
                           const DeviceLog& log, FrameOutput& output)
    : connection_(connection), options_(options), journal_(journal), log_(log), output_(output) {}

void PeerProtocol::say(const std::string& line) const {
  log_("#" + std::to_string(connection_) + " " + line);
}

void PeerProtocol::protocolError(const std::string& what) {
  say("protocol error: " + what);
  journal_.update([](DeviceState& s) { ++s.protocolErrors; });
}

void PeerProtocol::onFrame(const Frame& f) {
  if (refused_) return;
  if (f.type == TDMSG_KEEPALIVE) {
    ++keepAlives_;
    journal_.update([](DeviceState& s) { ++s.keepAlivesReceived; });
    if (options_.verbose) say("got keep-alive");
    if (f.length) protocolError("keep-alive with " + std::to_string(f.length) + " payload bytes");
    return;
  }
  if (f.type == TDMSG_MEDIA) {
    ++media_;
    mediaBytes_ += f.length;
    journal_.update([&](DeviceState& s) {
      ++s.mediaReceived;
      s.mediaBytes += f.length;
    });
    if (options_.verbose) say("got media message, " + std::to_string(f.length) + " bytes");
    // The sender may still send media after its stop request; it is taken.
    if (f.length < 12)
      protocolError("media message of " + std::to_string(f.length) + " bytes, shorter than an RTP header");
    else if (options_.media)
      options_.media->mediaPacket(f.payload, f.length);
    return;
  }

  ReceivedMessage m{connection_, f.type, std::vector<std::uint8_t>(f.payload, f.payload + f.length),
                    plat::monotonicUs()};
  journal_.update([&](DeviceState& s) { s.messages.push_back(std::move(m)); });
  if (f.type == TDMSG_PAIR_BANNER)
    say("got banner " + quotedText(f.payload, f.length));
  else
    say("got " + messageName(f.type) + ", " + std::to_string(f.length) + " payload bytes");

  if (!bannerSeen_ && f.type != TDMSG_PAIR_BANNER) protocolError(messageName(f.type) + " before the banner");
  switch (f.type) {
    case TDMSG_PAIR_BANNER: onBanner(f); break;
    case TDMSG_PASSWORD_DIGEST: onDigest(f); break;
    case TDMSG_START_ENCODING_REQ:
      if (f.length) protocolError("start request with " + std::to_string(f.length) + " payload bytes");
      onStartRequest();
      break;
    case TDMSG_STOP_ENCODING_REQ:
      if (f.length) protocolError("stop request with " + std::to_string(f.length) + " payload bytes");
      onStopRequest();
      break;
    default:
      protocolError(messageName(f.type) + " is not a message that a sender sends; ignored");
  }
}

void PeerProtocol::onBanner(const Frame& f) {
  if (bannerSeen_) {
    protocolError("a second banner; ignored");
    return;
  }
  bannerSeen_ = true;
  const std::size_t want = std::strlen(TD_PAIR_BANNER);
  if (f.length != want || std::memcmp(f.payload, TD_PAIR_BANNER, want) != 0)
    protocolError("banner " + quotedText(f.payload, f.length) + ", expected \"" TD_PAIR_BANNER "\"");
  if (options_.rejectReason)
    refuse(*options_.rejectReason);
  else if (options_.password)
    sendChallenge();
  else
    accept();
}

void PeerProtocol::sendChallenge() {
  std::random_device random;
  for (std::size_t i = 0; i < sizeof challenge_; i += 4) {
    std::uint32_t r = random();
    std::memcpy(challenge_ + i, &r, 4);
  }
  challengePending_ = true;
  journal_.update([](DeviceState& s) { ++s.challengesSent; });
  send(TDMSG_PASSWORD_CHALLENGE, challenge_, sizeof challenge_);
  say("sent password challenge " + hexBytes(challenge_, sizeof challenge_));
}

void PeerProtocol::onDigest(const Frame& f) {
  if (!challengePending_) {
    protocolError("a password answer without a challenge; ignored");
    return;
  }
  challengePending_ = false;
  // The answer is MD5 over the challenge followed by the password's characters.
  Md5 h;
  h.update(challenge_, sizeof challenge_);
  h.update(options_.password->data(), options_.password->size());
  std::uint8_t expected[kMd5Size];
  h.finish(expected);
  if (f.length != kMd5Size)
    protocolError("password answer of " + std::to_string(f.length) + " bytes, expected 16");
  if (f.length == kMd5Size && std::memcmp(f.payload, expected, kMd5Size) == 0) {
    journal_.update([](DeviceState& s) { ++s.rightAnswers; });
    say("password answer is right");
    accept();
    return;
  }
  journal_.update([](DeviceState& s) { ++s.wrongAnswers; });
  say("password answer is wrong: got " + hexBytes(f.payload, f.length) + ", expected " +
      hexBytes(expected, kMd5Size));
  refuse(kRejectWrongPassword);
}

void PeerProtocol::accept() {
  paired_ = true;
  journal_.update([](DeviceState& s) { s.paired = true; });
  send(TDMSG_PAIR_SUCCEED_INDIC, nullptr, 0);
  say("pairing accepted");
}

void PeerProtocol::refuse(int reason) {
  journal_.update([](DeviceState& s) { ++s.rejectionsSent; });
  send(refusalType(reason), nullptr, 0);
  say("pairing refused with reason " + std::to_string(reason) + "; closing once the sender leaves");
  refused_ = true;
  output_.finishOutput();
}

void PeerProtocol::onStartRequest() {
  if (!paired_) {
    say("start request before pairing; ignored");
    return;
  }
  ParamsRecord record;
  buildParamsRecord(options_.encoding, record);
  sendParams(record, sizeof record);
}

void PeerProtocol::sendParams(const std::uint8_t* record, std::uint32_t length) {
  EncodingRequest params = parseParamsRecord(record, length);
  // A new run begins before the sender can answer it with media.
  if (paired_) {
    streaming_ = true;
    journal_.update([](DeviceState& s) { s.streaming = true; });
    if (options_.media) options_.media->streamStarted(params);
  }
  if (send(TDMSG_START_ENCODING_ACK, record, length))
    say("sent encoding parameters: " + describe(params));
}

void PeerProtocol::onStopRequest() {
  // The sender repeats its stop request when it takes the acknowledgement;
  // one acknowledgement per stream.
  if (!streaming_) {
    say("stop request while not streaming; ignored");
    return;
  }
  stopStream(true);
}

void PeerProtocol::stopStream(bool acknowledge) {
  streaming_ = false;
  journal_.update([](DeviceState& s) { s.streaming = false; });
  // The stream is summed up before the sender hears of its end, so that
  // whoever sees the acknowledgement finds the figures complete.
  if (options_.media) options_.media->streamStopped();
  if (acknowledge) {
    send(TDMSG_STOP_ENCODING_ACK, nullptr, 0);
    say("sent stop acknowledgement");
  }
}

void PeerProtocol::onPosted(const OutboxItem& item) {
  if (refused_ || item.kind != OutboxItem::Send) return;
  if (item.payload.size() > TD_MAX_SEND_PAYLOAD) {
    say("not sending " + messageName(item.type) + ": payload longer than " +
        std::to_string(TD_MAX_SEND_PAYLOAD) + " bytes");
    return;
  }
  const auto length = static_cast<std::uint32_t>(item.payload.size());
  if (item.type == TDMSG_START_ENCODING_ACK) {
    sendParams(item.payload.data(), length);
    return;
  }
  if (item.type == TDMSG_STOP_ENCODING_ACK && streaming_) {
    stopStream(true);
    return;
  }
  if (!send(item.type, item.payload.data(), length)) return;
  if (item.type == TDMSG_UPDATE_ENC_BITRATE_INDIC && length >= 4)
    say("sent bit-rate change to " + std::to_string(td_get_be32(item.payload.data())) + " bit/s");
  else
    say("sent " + messageName(item.type) + ", " + std::to_string(length) + " payload bytes");
}

void PeerProtocol::sendKeepAlive() {
  if (refused_) return;
  journal_.update([](DeviceState& s) { ++s.keepAlivesSent; });
  send(TDMSG_KEEPALIVE, nullptr, 0);
  if (options_.verbose) say("sent keep-alive");
}

void PeerProtocol::onConnectionEnd() {
  if (streaming_) stopStream(false);
}

bool PeerProtocol::send(std::uint32_t type, const void* payload, std::uint32_t length) {
  return output_.sendFrame(type, payload, length);
}

}  // namespace device
