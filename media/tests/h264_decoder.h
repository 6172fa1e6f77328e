// Decodes Annex B access units with libavcodec and reports any error the
// decoder raises.
#ifndef TANDEO_MEDIA_TESTS_H264_DECODER_H
#define TANDEO_MEDIA_TESTS_H264_DECODER_H

#include <cstdint>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

struct DecodedPicture {
  int width = 0, height = 0;
  int sarNum = 0, sarDen = 0;
  bool key = false;
  std::vector<uint8_t> y;  // width x height, tightly packed
};

class H264Decoder {
 public:
  H264Decoder();
  ~H264Decoder();
  H264Decoder(const H264Decoder&) = delete;
  H264Decoder& operator=(const H264Decoder&) = delete;

  // Decodes one access unit; the pictures it gives are appended.
  bool Decode(const std::vector<uint8_t>& accessUnit, std::vector<DecodedPicture>* out);
  // Errors from the decoder since construction.
  const std::vector<std::string>& errors() const { return errors_; }
  int profile() const;

 private:
  void Drain(std::vector<DecodedPicture>* out);

  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::vector<std::string> errors_;
};

#endif  // TANDEO_MEDIA_TESTS_H264_DECODER_H
