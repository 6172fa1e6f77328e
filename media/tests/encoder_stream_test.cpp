// The encoder end to end: synthetic desktop pictures in, RTP packets out,
// checked by an independent depacketiser, compared with libx264 driven
// directly and decoded with libavcodec.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "media/tests/desktop_sequence.h"
#include "media/tests/encoder_test_util.h"
#include "media/tests/h264_decoder.h"
#include "media/tests/rtp_depacketiser.h"
#include "media/video_encoder.h"

namespace {

constexpr size_t kFragmentedMax = 1312;
// Baseline sends whole slices; the slice limit holds them near 1200 bytes.
constexpr size_t kBaselineMax = 1400;

struct StreamCase {
  int width, height, code, profile, bitrate, frames;
  DesktopSequence::Scene scene;
  double minPsnr;
};

std::string CaseName(const testing::TestParamInfo<StreamCase>& info) {
  const StreamCase& c = info.param;
  static const char* kScene[] = {"static", "moving", "busy"};
  return std::to_string(c.width) + "x" + std::to_string(c.height) +
         (c.profile == kProfileHigh ? "_high_" : "_baseline_") + kScene[int(c.scene)];
}

class EncoderStream : public testing::TestWithParam<StreamCase> {};

TEST_P(EncoderStream, PacketsReassembleDecodeAndMatchTheSource) {
  const StreamCase& c = GetParam();
  const FrameEncodeParams params = TestParams(c.width, c.height, c.code, c.profile, c.bitrate, 15);
  RtpDepacketiser sink(c.profile == kProfileHigh ? kFragmentedMax : kBaselineMax);
  WatchedX264Encoder encoder(MakeEncoderConfig(params), &sink);
  ASSERT_TRUE(encoder.Open());

  DesktopSequence source(c.width, c.height, c.scene);
  for (int i = 0; i < c.frames; ++i) {
    source.Render(i);
    const size_t before = sink.pictures().size();
    const size_t unitsBefore = encoder.produced.size();
    FramePicture pic = source.picture();
    encoder.Encode(&pic, &params);
    // Each call ends its picture with the one marked packet.
    EXPECT_FALSE(sink.pending()) << "picture " << i;
    EXPECT_EQ(sink.pictures().size() - before, encoder.produced.size() == unitsBefore ? 0u : 1u)
        << "picture " << i;
  }
  const std::vector<Bytes>& expected = encoder.produced;
  EXPECT_TRUE(sink.errors().empty()) << sink.errors().front();
  if (c.profile == kProfileHigh)
    EXPECT_GT(sink.fragmentPackets(), 0u);
  else
    EXPECT_EQ(sink.fragmentPackets(), 0u);

  std::vector<Bytes> received;
  for (const ReceivedPicture& p : sink.pictures()) received.insert(received.end(), p.nals.begin(), p.nals.end());
  ASSERT_EQ(received.size(), expected.size());
  for (size_t i = 0; i < received.size(); ++i) ASSERT_EQ(received[i], expected[i]) << "NAL unit " << i;

  H264Decoder decoder;
  std::vector<DecodedPicture> decoded;
  for (const ReceivedPicture& p : sink.pictures()) decoder.Decode(AnnexB(p), &decoded);
  EXPECT_TRUE(decoder.errors().empty()) << decoder.errors().front();
  ASSERT_EQ(decoded.size(), sink.pictures().size());
  ASSERT_GE(decoded.size(), size_t(c.frames - 2));
  EXPECT_TRUE(decoded[0].key);
  DesktopSequence reference(c.width, c.height, c.scene);
  double worst = 99;
  for (size_t i = 0; i < decoded.size(); ++i) {
    ASSERT_EQ(decoded[i].width, c.width);
    ASSERT_EQ(decoded[i].height, c.height);
    reference.Render(int(i));
    worst = std::min(worst, PlanePsnr(decoded[i].y.data(), c.width, reference.y().data(), c.width,
                                      c.width, c.height));
  }
  EXPECT_GE(worst, c.minPsnr);
}

using Scene = DesktopSequence::Scene;
INSTANTIATE_TEST_SUITE_P(
    Sizes, EncoderStream,
    testing::Values(StreamCase{1280, 720, 18, kProfileHigh, 4000000, 24, Scene::kMovingWindow, 35},
                    StreamCase{1280, 720, 18, kProfileBaseline, 4000000, 24, Scene::kMovingWindow, 35},
                    StreamCase{1920, 1080, 28, kProfileHigh, 4096000, 12, Scene::kBusy, 30},
                    StreamCase{352, 288, 2, kProfileBaseline, 704000, 20, Scene::kBusy, 30},
                    StreamCase{640, 360, 30, kProfileHigh, 704000, 20, Scene::kStatic, 35},
                    StreamCase{1024, 768, 11, kProfileBaseline, 16000, 12, Scene::kMovingWindow, 0}),
    CaseName);

// Encodes `frames` pictures of a moving-window scene, asking for an IDR
// on the pictures in `idrAt` (both words) and `halfIdrAt` (one word only).
struct IdrRun {
  RtpDepacketiser sink{kBaselineMax};
  std::vector<DecodedPicture> decoded;
  std::vector<std::string> errors;
};

void RunWithIdr(int profile, int frames, const std::vector<int>& idrAt, const std::vector<int>& halfIdrAt,
                IdrRun* run) {
  FrameEncodeParams params = TestParams(640, 360, 30, profile, 704000, 15);
  EncoderConfig config = MakeEncoderConfig(params);
  std::unique_ptr<IVideoEncoder> encoder(CreateVideoEncoder(&config, &run->sink));
  ASSERT_NE(encoder, nullptr);
  DesktopSequence source(640, 360, Scene::kMovingWindow);
  for (int i = 0; i < frames; ++i) {
    source.Render(i);
    FrameEncodeParams p = params;
    for (int k : idrAt)
      if (k == i) p.word[FrameEncodeParams::kIdrRequest] = p.word[FrameEncodeParams::kIdrRequest2] = 1;
    for (int k : halfIdrAt)
      if (k == i) p.word[FrameEncodeParams::kIdrRequest2] = 1;
    FramePicture pic = source.picture();
    encoder->Encode(&pic, &p);
  }
  H264Decoder decoder;
  for (const ReceivedPicture& p : run->sink.pictures()) decoder.Decode(AnnexB(p), &run->decoded);
  run->errors = decoder.errors();
  for (const std::string& e : run->sink.errors()) run->errors.push_back(e);
}

TEST(EncoderIdr, BothRequestWordsForceAnIdrWithParameterSetsOnThatPicture) {
  for (int profile : {kProfileHigh, kProfileBaseline}) {
    SCOPED_TRACE(profile);
    IdrRun run;
    RunWithIdr(profile, 14, {9}, {4, 6}, &run);
    ASSERT_TRUE(run.errors.empty()) << run.errors.front();
    ASSERT_GE(run.decoded.size(), 12u);
    for (size_t i = 0; i < run.decoded.size(); ++i)
      EXPECT_EQ(run.decoded[i].key, i == 0 || i == 9) << "picture " << i;
    // The asked-for IDR picture comes with its parameter sets first.
    const ReceivedPicture& idr = run.sink.pictures()[9];
    ASSERT_GE(idr.nals.size(), 3u);
    EXPECT_EQ(NalType(idr.nals[0]), 7);
    EXPECT_EQ(NalType(idr.nals[1]), 8);
    bool slices = true;
    for (size_t k = 2; k < idr.nals.size(); ++k)
      if (NalType(idr.nals[k]) != 5 && NalType(idr.nals[k]) != 6) slices = false;
    EXPECT_TRUE(slices);
    EXPECT_EQ(NalType(run.sink.pictures()[8].nals[0]), 1);
  }
}

// The sequence parameter set names the profile, and the decoder sees the
// sample aspect ratio chosen for a 16:9 display.
TEST(EncoderSps, CarriesProfileAndSampleAspect) {
  struct Case {
    int width, height, code, sarNum, sarDen;
  };
  const Case cases[] = {{1280, 720, 18, 1, 1}, {1920, 1080, 28, 1, 1}, {352, 288, 2, 16, 11},
                        {1024, 768, 11, 4, 3}, {1280, 1024, 17, 1, 1}};
  for (int profile : {kProfileBaseline, kProfileHigh}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " profile " +
                   std::to_string(profile));
      FrameEncodeParams params = TestParams(c.width, c.height, c.code, profile, 704000, 15);
      RtpDepacketiser sink(65536);
      EncoderConfig config = MakeEncoderConfig(params);
      std::unique_ptr<IVideoEncoder> encoder(CreateVideoEncoder(&config, &sink));
      ASSERT_NE(encoder, nullptr);
      DesktopSequence source(c.width, c.height, Scene::kStatic);
      source.Render(0);
      FramePicture pic = source.picture();
      for (int i = 0; i < 3; ++i) encoder->Encode(&pic, &params);
      ASSERT_FALSE(sink.pictures().empty());
      const Bytes& sps = sink.pictures()[0].nals.at(0);
      ASSERT_EQ(NalType(sps), 7);
      ASSERT_GE(sps.size(), 4u);
      EXPECT_EQ(sps[1], profile);  // profile_idc
      H264Decoder decoder;
      std::vector<DecodedPicture> decoded;
      decoder.Decode(AnnexB(sink.pictures()[0]), &decoded);
      ASSERT_EQ(decoded.size(), 1u);
      EXPECT_EQ(decoded[0].sarNum, c.sarNum);
      EXPECT_EQ(decoded[0].sarDen, c.sarDen);
    }
  }
}

// Bits sent per second over `seconds` of pictures at `fps`, after the
// parameters change to `params`.
double MeasureRate(WatchedX264Encoder& encoder, RtpDepacketiser& sink, DesktopSequence& source,
                   int* index, const FrameEncodeParams& params, int fps, int seconds) {
  size_t before = 0;
  for (const ReceivedPicture& p : sink.pictures()) before += p.bytes;
  for (int i = 0; i < fps * seconds; ++i) {
    source.Render((*index)++);
    FramePicture pic = source.picture();
    encoder.Encode(&pic, &params);
  }
  size_t after = 0;
  for (const ReceivedPicture& p : sink.pictures()) after += p.bytes;
  return double(after - before) * 8 / seconds;
}

// A new bitrate shows in what is sent within two seconds, whether it is
// raised (the library reopens) or lowered (it is reconfigured in place). The
// rates sit below what the moving window would take, so the encoder spends
// what it is given.
TEST(EncoderRate, BitrateChangeTakesEffectWithinTwoSeconds) {
  constexpr int kFps = 15;
  FrameEncodeParams params = TestParams(1280, 720, 18, kProfileHigh, 250000, kFps);
  RtpDepacketiser sink(kFragmentedMax);
  WatchedX264Encoder encoder(MakeEncoderConfig(params), &sink);
  ASSERT_TRUE(encoder.Open());
  DesktopSequence source(1280, 720, Scene::kMovingWindow);
  int index = 0;
  MeasureRate(encoder, sink, source, &index, params, kFps, 3);

  params.word[FrameEncodeParams::kBitrate] = 500000;
  const double raised = MeasureRate(encoder, sink, source, &index, params, kFps, 2);
  EXPECT_EQ(encoder.opens, 2);
  EXPECT_NEAR(raised / 500000, 1.0, 0.25) << raised << " bit/s";

  params.word[FrameEncodeParams::kBitrate] = 250000;
  const double lowered = MeasureRate(encoder, sink, source, &index, params, kFps, 2);
  EXPECT_EQ(encoder.opens, 2);
  EXPECT_EQ(encoder.reconfigs, 1);
  EXPECT_NEAR(lowered / 250000, 1.0, 0.25) << lowered << " bit/s";
  EXPECT_TRUE(sink.errors().empty()) << sink.errors().front();
}

}  // namespace
