// Repeating a still picture without encoding it: the stream stays valid
// H.264 through moving and still stretches, an intra request in a still
// stretch and many repeats in a row (the frame numbers wrap), every repeat
// decodes as the picture before it, and the pictures keep their quality.
// Figure: repeats sent and their size against the pictures encoded.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "media/tests/encoder_test_util.h"
#include "media/tests/h264_decoder.h"

namespace {

constexpr int kW = 320, kH = 240;

struct Picture {
  std::vector<uint8_t> y = std::vector<uint8_t>(kW * kH), u = std::vector<uint8_t>(kW * kH / 4),
                       v = std::vector<uint8_t>(kW * kH / 4);
  FramePicture frame() const {
    FramePicture p;
    p.y = y.data();
    p.u = u.data();
    p.v = v.data();
    p.yStride = kW;
    p.uStride = p.vStride = kW / 2;
    p.width = p.width2 = kW;
    p.height = kH;
    return p;
  }
};

// Text-like detail that moves with t.
void Draw(Picture* p, int t) {
  for (int r = 0; r < kH; ++r)
    for (int c = 0; c < kW; ++c)
      p->y[r * kW + c] = static_cast<uint8_t>(((c + 3 * t) * 7) ^ ((r + t) * 13) ^ (((c + t) * r) >> 4));
  for (int i = 0; i < kW * kH / 4; ++i) {
    p->u[i] = static_cast<uint8_t>(100 + (i + t) % 50);
    p->v[i] = static_cast<uint8_t>(150 - (i * 3 + t) % 50);
  }
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double se = 0;
  for (size_t i = 0; i < a.size(); ++i) se += (a[i] - b[i]) * double(a[i] - b[i]);
  return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * a.size() / se);
}

TEST(PictureRepeater, StillStretchesRepeatWithoutEncodingAndTheStreamStaysValid) {
  // What happens at each tick: a new picture, or the same one, or the same
  // one with an intra picture asked for.
  enum Step { kMove, kStill, kStillIdr };
  std::vector<Step> steps;
  auto add = [&](Step s, int n) { steps.insert(steps.end(), n, s); };
  add(kMove, 8);
  add(kStill, 90);  // more repeats in a row than frame numbers of 4 bits
  add(kMove, 6);
  add(kStill, 30);
  add(kStillIdr, 1);
  add(kStill, 40);
  add(kMove, 5);
  add(kStill, 300);

  FrameEncodeParams params = TestParams(kW, kH, 8, kProfileBaseline, 600000, 30);
  RtpDepacketiser sink(1312);
  WatchedX264Encoder encoder(MakeEncoderConfig(params), &sink);
  H264Decoder decoder;
  Picture pic;
  int t = 0, repeats = 0, encoded = 0;
  std::vector<DecodedPicture> decoded;
  std::vector<bool> repeated;
  size_t repeatBytes = 0;
  for (Step step : steps) {
    if (step == kMove) Draw(&pic, ++t);
    FrameEncodeParams p = params;
    if (step == kStillIdr) p.word[FrameEncodeParams::kIdrRequest] = p.word[FrameEncodeParams::kIdrRequest2] = 1;
    const FramePicture frame = pic.frame();
    const size_t before = sink.pictures().size();
    const bool repeat = step != kMove && encoder.Repeat(&p);
    if (!repeat) encoder.Encode(&frame, &p);
    if (step == kStillIdr) {
      EXPECT_FALSE(repeat) << "an intra request is encoded";
    }
    repeats += repeat;
    encoded += !repeat;
    ASSERT_EQ(sink.pictures().size(), before + 1) << "one picture per tick";
    Bytes unit;
    for (const Bytes& nal : sink.pictures().back().nals) {
      if (repeat) repeatBytes += nal.size();
      unit.insert(unit.end(), {0, 0, 0, 1});
      unit.insert(unit.end(), nal.begin(), nal.end());
    }
    std::vector<DecodedPicture> out;
    ASSERT_TRUE(decoder.Decode(unit, &out));
    ASSERT_EQ(out.size(), 1u) << "the picture comes out at once";
    decoded.push_back(out[0]);
    repeated.push_back(repeat);
    // Repeats start only once the still picture is coded well.
    if (repeat) {
      EXPECT_GT(Psnr(out[0].y, pic.y), 35.0) << "picture " << decoded.size() - 1;
    }
  }
  EXPECT_TRUE(sink.errors().empty()) << sink.errors().front();
  EXPECT_TRUE(decoder.errors().empty()) << decoder.errors().front();
  for (size_t i = 1; i < decoded.size(); ++i) {
    if (repeated[i]) {
      EXPECT_EQ(decoded[i].y, decoded[i - 1].y) << "repeat " << i;
    }
  }
  std::printf("repeats: %d of %zu pictures, %.1f bytes each; %d encoded\n", repeats, steps.size(),
              repeats ? double(repeatBytes) / repeats : 0.0, encoded);
  // Most still pictures are repeats once the quality has settled.
  EXPECT_GT(repeats, 200);
  EXPECT_LT(repeatBytes / std::max(repeats, 1), 16u);
}

// The high profile's arithmetic coding is not repeated: it always encodes.
TEST(PictureRepeater, HighProfileAlwaysEncodes) {
  FrameEncodeParams params = TestParams(kW, kH, 8, kProfileHigh, 600000, 30);
  RtpDepacketiser sink(1312);
  WatchedX264Encoder encoder(MakeEncoderConfig(params), &sink);
  Picture pic;
  Draw(&pic, 1);
  const FramePicture frame = pic.frame();
  int repeats = 0;
  for (int i = 0; i < 60; ++i) {
    const bool repeat = i > 0 && encoder.Repeat(&params);
    if (!repeat) encoder.Encode(&frame, &params);
    repeats += repeat;
  }
  EXPECT_EQ(repeats, 0);
}

}  // namespace
