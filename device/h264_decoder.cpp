#include "device/h264_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
}

namespace device {

H264Decoder::H264Decoder() {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec) {
    error_ = "libavcodec has no H.264 decoder";
    return;
  }
  ctx_ = avcodec_alloc_context3(codec);
  frame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (!ctx_ || !frame_ || !packet_) {
    error_ = "cannot allocate the H.264 decoder";
  } else {
    // A picture out for every access unit in: frame threads would hold
    // pictures back.
    ctx_->thread_count = 1;
    ctx_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(ctx_, codec, nullptr) < 0) error_ = "cannot open the H.264 decoder";
  }
  if (!error_.empty()) {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&ctx_);
  }
}

H264Decoder::~H264Decoder() {
  av_packet_free(&packet_);
  av_frame_free(&frame_);
  avcodec_free_context(&ctx_);
}

void H264Decoder::flush() {
  if (ctx_) avcodec_flush_buffers(ctx_);
}

int H264Decoder::decode(const std::uint8_t* data, std::size_t size, std::int64_t tag,
                        const std::function<void(const DecodedPlanes&)>& onPicture) {
  if (!ctx_ || size == 0 || size > 0x7FFFFFFF) return 0;
  int errors = 0;
  // The packet borrows the unit: libavcodec copies what it keeps.
  packet_->data = const_cast<std::uint8_t*>(data);
  packet_->size = static_cast<int>(size);
  packet_->pts = tag;
  int rc = avcodec_send_packet(ctx_, packet_);
  packet_->data = nullptr;
  packet_->size = 0;
  if (rc < 0 && rc != AVERROR(EAGAIN)) ++errors;
  for (;;) {
    rc = avcodec_receive_frame(ctx_, frame_);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
    if (rc < 0) {
      ++errors;
      break;
    }
    // Concealed damage comes out as a picture with its error flags set.
    if (frame_->decode_error_flags) ++errors;
    if (frame_->format == AV_PIX_FMT_YUV420P || frame_->format == AV_PIX_FMT_YUVJ420P) {
      DecodedPlanes planes{frame_->width,       frame_->height,      frame_->data[0],
                           frame_->data[1],     frame_->data[2],     frame_->linesize[0],
                           frame_->linesize[1], frame_->pts};
      onPicture(planes);
    } else {
      // The sender only sends 4:2:0 at 8 bits; anything else cannot be shown.
      ++errors;
    }
    av_frame_unref(frame_);
  }
  return errors;
}

}  // namespace device
