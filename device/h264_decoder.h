// The device's H.264 decoder over FFmpeg's libavcodec: one Annex B access
// unit in, the pictures it completes out (one per unit: the sender uses no
// B-frames and the decoder runs with low delay on one thread).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace device {

struct DecodedPlanes {
  int width, height;
  const std::uint8_t* y;
  const std::uint8_t* u;
  const std::uint8_t* v;
  int yStride, uvStride;
  std::int64_t tag;  // the tag given with the access unit that made it
};

class H264Decoder {
 public:
  H264Decoder();
  ~H264Decoder();
  H264Decoder(const H264Decoder&) = delete;
  H264Decoder& operator=(const H264Decoder&) = delete;

  // False, with the reason in error(), when libavcodec has no H.264 decoder.
  bool ready() const { return ctx_ != nullptr; }
  const std::string& error() const { return error_; }

  // Decodes one access unit; `data` must be followed by 64 readable bytes
  // (libavcodec reads ahead). `onPicture` runs for each picture that comes
  // out; the planes are valid only during the call. Returns how many decode
  // errors this unit raised.
  int decode(const std::uint8_t* data, std::size_t size, std::int64_t tag,
             const std::function<void(const DecodedPlanes&)>& onPicture);
  // A new stream: pictures held back are dropped and references forgotten.
  void flush();

 private:
  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::string error_;
};

}  // namespace device
