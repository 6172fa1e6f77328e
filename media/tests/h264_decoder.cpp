#include "media/tests/h264_decoder.h"

#include <atomic>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace {

// libavcodec reports stream damage through its log; count what it says at
// error level so concealed faults fail the test too.
std::atomic<int> g_logErrors{0};

void CountingLog(void* avcl, int level, const char* fmt, va_list args) {
  if (level <= AV_LOG_ERROR) {
    ++g_logErrors;
    char line[512];
    vsnprintf(line, sizeof line, fmt, args);
    fprintf(stderr, "libavcodec: %s", line);
  }
  (void)avcl;
}

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace

H264Decoder::H264Decoder() {
  av_log_set_callback(CountingLog);
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  ctx_ = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (!ctx_) {
    errors_.push_back("no H.264 decoder");
    return;
  }
  ctx_->thread_count = 1;  // a picture out for every access unit in
  ctx_->flags |= AV_CODEC_FLAG_LOW_DELAY;
  ctx_->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER;
  if (avcodec_open2(ctx_, codec, nullptr) < 0) errors_.push_back("cannot open the decoder");
  frame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
}

H264Decoder::~H264Decoder() {
  av_packet_free(&packet_);
  av_frame_free(&frame_);
  avcodec_free_context(&ctx_);
}

int H264Decoder::profile() const { return ctx_ ? ctx_->profile : -1; }

void H264Decoder::Drain(std::vector<DecodedPicture>* out) {
  for (;;) {
    int rc = avcodec_receive_frame(ctx_, frame_);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    if (rc < 0) {
      errors_.push_back("receive: " + ErrorText(rc));
      return;
    }
    if (frame_->decode_error_flags) errors_.push_back("picture decoded with errors");
    DecodedPicture pic;
    pic.width = frame_->width;
    pic.height = frame_->height;
    pic.sarNum = frame_->sample_aspect_ratio.num;
    pic.sarDen = frame_->sample_aspect_ratio.den;
    pic.key = frame_->key_frame != 0;
    pic.y.resize(size_t(pic.width) * pic.height);
    for (int row = 0; row < pic.height; ++row)
      memcpy(&pic.y[size_t(row) * pic.width], frame_->data[0] + size_t(row) * frame_->linesize[0],
             size_t(pic.width));
    out->push_back(std::move(pic));
    av_frame_unref(frame_);
  }
}

bool H264Decoder::Decode(const std::vector<uint8_t>& au, std::vector<DecodedPicture>* out) {
  if (!ctx_ || !packet_ || !frame_) return false;
  const int before = g_logErrors.load();
  if (av_new_packet(packet_, int(au.size())) < 0) {
    errors_.push_back("out of memory");
    return false;
  }
  memcpy(packet_->data, au.data(), au.size());
  int rc = avcodec_send_packet(ctx_, packet_);
  av_packet_unref(packet_);
  if (rc < 0) errors_.push_back("send: " + ErrorText(rc));
  Drain(out);
  if (g_logErrors.load() != before) errors_.push_back("the decoder logged errors");
  return rc >= 0;
}
