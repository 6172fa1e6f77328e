// A picture that never changes must settle to next to nothing once it is
// coded well: the rate control may not keep spending the bit rate on it.
// Figure: the mean size of the last 30 of 150 still pictures against the
// per-picture budget.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "media/tests/encoder_test_util.h"

namespace {

class ByteCounter : public OutBitStream {
 public:
  int32_t Write(const uint8_t*, int32_t length) override {
    bytes += length;
    return 1;
  }
  long bytes = 0;
};

TEST(StillPicture, SettlesFarBelowTheBitRate) {
  const int w = 640, h = 360, fps = 15, bitrate = 2000000;
  // Fine detail everywhere, as on a desktop full of text.
  std::vector<uint8_t> y(w * h), u(w * h / 4), v(w * h / 4);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) y[r * w + c] = static_cast<uint8_t>((c * 7) ^ (r * 13) ^ ((c * r) >> 3));
  for (int i = 0; i < w * h / 4; ++i) {
    u[i] = static_cast<uint8_t>(96 + (i * 5) % 64);
    v[i] = static_cast<uint8_t>(160 - (i * 3) % 64);
  }
  FramePicture pic;
  pic.y = y.data();
  pic.u = u.data();
  pic.v = v.data();
  pic.yStride = w;
  pic.uStride = pic.vStride = w / 2;
  pic.width = pic.width2 = w;
  pic.height = h;

  for (int profile : {66, 100}) {
    FrameEncodeParams params = TestParams(w, h, 30, profile, bitrate, fps);
    ByteCounter sink;
    WatchedX264Encoder enc(MakeEncoderConfig(params), &sink);
    long last30 = 0;
    for (int i = 0; i < 150; ++i) {
      long before = sink.bytes;
      enc.Encode(&pic, &params);
      if (i >= 120) last30 += sink.bytes - before;
    }
    const double budget = bitrate / 8.0 / fps;
    const double mean = last30 / 30.0;
    std::printf("profile %d: still picture settles at %.0f bytes (budget %.0f, %.2f%%)\n", profile, mean, budget,
                100 * mean / budget);
    EXPECT_LT(mean, 0.01 * budget) << "profile " << profile;
  }
}

}  // namespace
