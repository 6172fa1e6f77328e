// Shared pieces of the encoder tests: parameter records, an encoder whose
// library calls are watched, and NAL unit helpers.
#ifndef TANDEO_MEDIA_TESTS_ENCODER_TEST_UTIL_H
#define TANDEO_MEDIA_TESTS_ENCODER_TEST_UTIL_H

#include <cstdint>
#include <vector>

extern "C" {
#include <x264.h>
}

#include "media/tests/rtp_depacketiser.h"
#include "media/video_encoder.h"
#include "media/x264_encoder.h"

// Frame parameters as the codec thread fills them: 16:9 aspect mode,
// aspect_ratio_idc limit 255, explicit 1:1, encoding mode 3.
FrameEncodeParams TestParams(int width, int height, int code, int profile, int bitrate, int fps);

inline int NalType(const Bytes& nal) { return nal.empty() ? -1 : nal[0] & 0x1f; }

// The x264 encoder with its library calls watched: it keeps every NAL unit
// libx264 returns (start codes dropped), counts opens and reconfigurations,
// and can be told to fail the next opens or reconfigurations.
class WatchedX264Encoder : public X264Encoder {
 public:
  using X264Encoder::X264Encoder;

  std::vector<Bytes> produced;  // in order, across all calls
  int opens = 0, reconfigs = 0;
  int failOpens = 0, failReconfigs = 0;
  std::vector<int> reconfigKbps;  // rc.i_bitrate at each reconfiguration

 protected:
  x264_t* OpenLibrary(x264_param_t* params) override;
  int ReconfigLibrary(x264_t* encoder, x264_param_t* params) override;
  int EncodeLibrary(x264_t* encoder, x264_nal_t** nals, int* count, x264_picture_t* in,
                    x264_picture_t* out) override;
};

#endif  // TANDEO_MEDIA_TESTS_ENCODER_TEST_UTIL_H
