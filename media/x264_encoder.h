// The H.264 encoder over libx264, tuned for low-latency screen streaming.
#ifndef TANDEO_MEDIA_X264_ENCODER_H
#define TANDEO_MEDIA_X264_ENCODER_H

#include <cstdint>

extern "C" {
#include <x264.h>
}

#include "media/picture_repeater.h"
#include "media/rtp_packetiser.h"
#include "media/video_encoder.h"

// Used when the creation record carries no usable rate: the session's own
// defaults for a fresh connection.
constexpr int32_t kFallbackFrameRate = 5;
constexpr int32_t kFallbackBitrate = 704000;

// Rate-control figures in kbit/s for a bitrate in bits per second: the
// target sits 10 kbit/s below the asked rate (above 10 kbit/s), the VBV
// ceiling and buffer 5 kbit/s above the target.
struct X264Rate {
  int kbps;
  int vbvKbps;
};
X264Rate X264RateFor(int32_t bitrate);

// Writes the rate control and frame rate into the library parameters.
void ApplyX264Rate(x264_param_t* params, int32_t bitrate, int32_t frameRate);

// Fills the library parameters as the encoder opens with them (preset,
// profile, threads, no look-ahead, no B-frames, no periodic key frames,
// parameter sets before each key frame, slice limit in baseline). The
// sample aspect ratio is not set here.
void FillX264Params(x264_param_t* params, int32_t profile, int32_t width, int32_t height,
                    int32_t bitrate, int32_t frameRate);

struct SampleAspect {
  int width;
  int height;
};
// The sample aspect ratio to signal: `sar` (1:1 unless both are positive),
// or an H.264 Annex E table entry chosen by the aspect mode: mode 3 takes
// entry `limit` itself; mode 1 the first entry up to `limit` that shows the
// picture as 4:3, any other mode as 16:9.
SampleAspect ChooseSampleAspect(int32_t mode, int32_t limit, int32_t sarWidth, int32_t sarHeight,
                                int32_t width, int32_t height);

class X264Encoder : public IVideoEncoder {
 public:
  X264Encoder(const EncoderConfig& config, OutBitStream* sink);
  ~X264Encoder() override;

  // Opens the library encoder with the current configuration.
  bool Open();

  void Encode(const FramePicture* picture, const FrameEncodeParams* params) override;
  bool Repeat(const FrameEncodeParams* params) override;

  bool isOpen() const { return encoder_ != nullptr; }
  int32_t bitrate() const { return config_.word[EncoderConfig::kBitrate]; }
  int32_t frameRate() const { return config_.word[EncoderConfig::kFrameRate]; }
  int32_t bitrateCeiling() const { return bitrateCeiling_; }
  const x264_param_t& libraryParams() const { return params_; }

 protected:
  // The library calls, overridable so tests can watch and fail them.
  virtual x264_t* OpenLibrary(x264_param_t* params) { return x264_encoder_open(params); }
  virtual int ReconfigLibrary(x264_t* encoder, x264_param_t* params) {
    return x264_encoder_reconfig(encoder, params);
  }
  virtual int EncodeLibrary(x264_t* encoder, x264_nal_t** nals, int* count, x264_picture_t* in,
                            x264_picture_t* out) {
    return x264_encoder_encode(encoder, nals, count, in, out);
  }

 private:
  int32_t id() const { return config_.word[EncoderConfig::kEncoderId]; }
  int32_t profile() const { return config_.word[EncoderConfig::kProfile]; }
  void SetDefaultParams();
  void Close();
  bool Reopen();
  void ApplyRateChange(const FrameEncodeParams& params);
  bool PictureFits(const FramePicture& picture) const;
  void SendNalUnits(const x264_nal_t* nals, int count);
  void SendNalUnitsFragmented(const x264_nal_t* nals, int count);

  EncoderConfig config_;
  bool useFragmentation_ = false;
  int32_t bitrateCeiling_ = 0;
  x264_t* encoder_ = nullptr;
  x264_param_t params_{};
  RtpPacketiser packetiser_;
  PictureRepeater repeater_;
  // The picture given next is the one encoded last, and once the library
  // has coded that still picture small (its quality has settled), repeats
  // stand in for encoding it again.
  bool stillPicture_ = false;
  bool settled_ = false;
  uint64_t pts_ = 0;
  uint32_t openAttempts_ = 0;
};

#endif  // TANDEO_MEDIA_X264_ENCODER_H
