// The encoder's arithmetic and its control path: rate figures, sample
// aspect ratios, what the library is opened with, reconfigure versus reopen,
// and recovery from bad rates and failed library calls.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "media/tests/desktop_sequence.h"
#include "media/tests/encoder_test_util.h"
#include "media/tests/h264_decoder.h"
#include "media/encoder_log.h"
#include "media/x264_encoder.h"

namespace {

using Scene = DesktopSequence::Scene;

TEST(X264Rate, WorkedValues) {
  struct Case {
    int32_t bitrate;
    int kbps, vbv;
  };
  const Case cases[] = {{704000, 694, 699}, {512000, 502, 507}, {16000, 6, 11}, {10000, 10, 15},
                        {4096000, 4086, 4091}};
  for (const Case& c : cases) {
    X264Rate r = X264RateFor(c.bitrate);
    EXPECT_EQ(r.kbps, c.kbps) << c.bitrate;
    EXPECT_EQ(r.vbvKbps, c.vbv) << c.bitrate;
  }
  // Below 1 kbit/s the library would refuse to open; it gets its smallest rate.
  EXPECT_EQ(X264RateFor(500).kbps, 1);
  EXPECT_EQ(X264RateFor(500).vbvKbps, 5);
}

TEST(SampleAspectChoice, SixteenByNineDisplayAndOtherModes) {
  struct Case {
    int mode, limit, sarW, sarH, width, height, w, h;
  };
  const Case cases[] = {
      {2, 255, 1, 1, 1280, 720, 1, 1},   {2, 255, 1, 1, 1920, 1080, 1, 1},
      {2, 255, 1, 1, 352, 288, 16, 11},  {2, 255, 1, 1, 1024, 768, 4, 3},
      {2, 255, 1, 1, 1280, 1024, 1, 1},  // no table entry gives 16:9: stays
      {2, 3, 1, 1, 352, 288, 1, 1},      // 16:11 is entry 4, past the limit
      {1, 255, 1, 1, 352, 288, 12, 11},  // 4:3 display
      {3, 14, 1, 1, 640, 360, 4, 3},     // explicit idc
      {3, 17, 10, 11, 640, 360, 10, 11}, // idc outside the table: the words stay
      {2, 0, 10, 11, 352, 288, 10, 11},  // limit 0: the words stay
      {2, 0, 0, 11, 352, 288, 1, 1},     // a word not above 0: 1:1
  };
  for (const Case& c : cases) {
    SampleAspect s = ChooseSampleAspect(c.mode, c.limit, c.sarW, c.sarH, c.width, c.height);
    EXPECT_EQ(s.width, c.w) << c.width << "x" << c.height << " mode " << c.mode << " limit " << c.limit;
    EXPECT_EQ(s.height, c.h) << c.width << "x" << c.height << " mode " << c.mode << " limit " << c.limit;
  }
}

// What the library itself reports after opening: the low-latency settings
// must survive the preset and the profile.
struct OpenedParams : WatchedX264Encoder {
  using WatchedX264Encoder::WatchedX264Encoder;
  x264_param_t actual{};
  x264_t* OpenLibrary(x264_param_t* params) override {
    x264_t* e = WatchedX264Encoder::OpenLibrary(params);
    if (e) x264_encoder_parameters(e, &actual);
    return e;
  }
};

TEST(X264Open, LibraryRunsWithTheLowLatencySettings) {
  RtpDepacketiser sink(65536);
  for (int profile : {kProfileBaseline, kProfileHigh}) {
    SCOPED_TRACE(profile);
    OpenedParams enc(MakeEncoderConfig(TestParams(352, 288, 2, profile, 704000, 15)), &sink);
    ASSERT_TRUE(enc.Open());
    const x264_param_t& p = enc.actual;
    EXPECT_EQ(p.i_threads, 2);
    EXPECT_EQ(p.b_sliced_threads, 1);  // no picture held back for a frame thread
    EXPECT_EQ(p.b_vfr_input, 0);       // nor for the next picture's time
    EXPECT_EQ(p.i_bframe, 0);
    EXPECT_EQ(p.rc.i_lookahead, 0);
    EXPECT_EQ(p.i_sync_lookahead, 0);
    EXPECT_EQ(p.i_keyint_max, 1 << 30);
    EXPECT_EQ(p.b_repeat_headers, 1);
    EXPECT_EQ(p.b_annexb, 1);
    EXPECT_EQ(p.rc.i_rc_method, X264_RC_ABR);
    EXPECT_EQ(p.rc.i_bitrate, 694);
    EXPECT_EQ(p.rc.i_vbv_max_bitrate, 699);
    EXPECT_EQ(p.rc.i_vbv_buffer_size, 699);
    EXPECT_EQ(p.i_fps_num, 15u);
    EXPECT_EQ(p.i_fps_den, 1u);
    // The library may note a "fake" weighting (-1) for its own use; no
    // weighted prediction reaches the stream either way.
    EXPECT_LE(p.analyse.i_weighted_pred, X264_WEIGHTP_NONE);
    EXPECT_EQ(p.vui.i_sar_width, 16);
    EXPECT_EQ(p.vui.i_sar_height, 11);
    const bool baseline = profile == kProfileBaseline;
    EXPECT_EQ(p.i_slice_max_size, baseline ? 1200 : 0);
    EXPECT_EQ(p.b_cabac, baseline ? 0 : 1);
    EXPECT_EQ(p.analyse.b_transform_8x8, baseline ? 0 : 1);
  }
}

struct LogCapture {
  std::vector<std::string> info, error;
  static void Info(void* self, const char* m) { static_cast<LogCapture*>(self)->info.push_back(m); }
  static void Error(void* self, const char* m) { static_cast<LogCapture*>(self)->error.push_back(m); }
  EncoderLogHooks hooks() { return EncoderLogHooks{this, &LogCapture::Info, &LogCapture::Error}; }
  // The hooks are process-wide: leave none pointing here.
  ~LogCapture() { SetEncoderLogHooks(EncoderLogHooks()); }
};

// Drives one encoder picture by picture and decodes everything it sends.
class Session {
 public:
  Session(const FrameEncodeParams& params, Scene scene, LogCapture* log = nullptr)
      : params_(params),
        source_(params.word[FrameEncodeParams::kWidth], params.word[FrameEncodeParams::kHeight], scene),
        sink_(65536),
        encoder_(MakeEncoderConfig(params), &sink_) {
    SetEncoderLogHooks(log ? log->hooks() : EncoderLogHooks());
  }

  WatchedX264Encoder& encoder() { return encoder_; }
  FrameEncodeParams& params() { return params_; }

  // Encodes `n` pictures; returns how many packets they gave.
  size_t Encode(int n) {
    const size_t before = sink_.packets();
    for (int i = 0; i < n; ++i) {
      source_.Render(index_++);
      FramePicture pic = source_.picture();
      encoder_.Encode(&pic, &params_);
    }
    return sink_.packets() - before;
  }

  // Decodes the pictures not decoded yet; returns which of them were key
  // pictures.
  std::vector<bool> DecodeNew() {
    std::vector<bool> keys;
    std::vector<DecodedPicture> out;
    for (; decodedUpTo_ < sink_.pictures().size(); ++decodedUpTo_) {
      out.clear();
      decoder_.Decode(AnnexB(sink_.pictures()[decodedUpTo_]), &out);
      for (const DecodedPicture& d : out) keys.push_back(d.key);
    }
    return keys;
  }

  std::vector<std::string> Errors() const {
    std::vector<std::string> e = decoder_.errors();
    e.insert(e.end(), sink_.errors().begin(), sink_.errors().end());
    return e;
  }

 private:
  FrameEncodeParams params_;
  DesktopSequence source_;
  RtpDepacketiser sink_;
  WatchedX264Encoder encoder_;
  H264Decoder decoder_;
  int index_ = 0;
  size_t decodedUpTo_ = 0;
};

bool AnyKey(const std::vector<bool>& keys) {
  for (bool k : keys)
    if (k) return true;
  return false;
}

TEST(X264RateChange, LowerBitrateReconfiguresHigherOrNewFrameRateReopens) {
  LogCapture log;
  Session s(TestParams(1280, 720, 18, kProfileHigh, 704000, 15), Scene::kMovingWindow, &log);
  WatchedX264Encoder& enc = s.encoder();
  ASSERT_TRUE(enc.Open());
  ASSERT_EQ(log.info, std::vector<std::string>{"enc 0 enable_temporal_layer = 0.\n"});
  s.Encode(4);
  ASSERT_TRUE(AnyKey(s.DecodeNew()));

  // Lower: reconfigured in place at 502 kbit/s, no new key picture.
  s.params().word[FrameEncodeParams::kBitrate] = 512000;
  s.Encode(4);
  EXPECT_EQ(enc.opens, 1);
  EXPECT_EQ(enc.reconfigKbps, std::vector<int>{502});
  EXPECT_EQ(enc.bitrateCeiling(), 704000);
  EXPECT_FALSE(AnyKey(s.DecodeNew()));
  EXPECT_EQ(log.info.back(), "Enc[0] original bitrate 694, new bitrate 512000, frame rate (15, 15).");

  // Above the ceiling: reopened, a new stream starts with a key picture.
  s.params().word[FrameEncodeParams::kBitrate] = 1024000;
  s.Encode(4);
  EXPECT_EQ(enc.opens, 2);
  EXPECT_EQ(enc.reconfigs, 1);
  EXPECT_EQ(enc.bitrateCeiling(), 1024000);
  EXPECT_EQ(enc.libraryParams().rc.i_bitrate, 1014);
  std::vector<bool> keys = s.DecodeNew();
  ASSERT_FALSE(keys.empty());
  EXPECT_TRUE(keys[0]);

  // Back down below the new ceiling: reconfigured.
  s.params().word[FrameEncodeParams::kBitrate] = 704000;
  s.Encode(3);
  EXPECT_EQ(enc.opens, 2);
  EXPECT_EQ(enc.reconfigs, 2);
  EXPECT_FALSE(AnyKey(s.DecodeNew()));

  // Any frame-rate change reopens, even downwards.
  s.params().word[FrameEncodeParams::kFrameRate] = 10;
  s.Encode(3);
  EXPECT_EQ(enc.opens, 3);
  EXPECT_EQ(enc.libraryParams().i_fps_num, 10u);
  keys = s.DecodeNew();
  ASSERT_FALSE(keys.empty());
  EXPECT_TRUE(keys[0]);

  // A new resolution code of the same size reopens too.
  s.params().word[FrameEncodeParams::kResolutionCode] = 45;
  s.Encode(3);
  EXPECT_EQ(enc.opens, 4);
  keys = s.DecodeNew();
  ASSERT_FALSE(keys.empty());
  EXPECT_TRUE(keys[0]);

  const std::vector<std::string> errors = s.Errors();
  EXPECT_TRUE(errors.empty()) << errors.front();
  EXPECT_TRUE(log.error.empty());
}

TEST(X264RateChange, RatesBelowOneKeepThePreviousRate) {
  // The creation record may carry no usable rate at all.
  FrameEncodeParams params = TestParams(640, 360, 30, kProfileBaseline, 0, 0);
  RtpDepacketiser sink(65536);
  EncoderConfig config = MakeEncoderConfig(params);
  std::unique_ptr<IVideoEncoder> created(CreateVideoEncoder(&config, &sink));
  ASSERT_NE(created, nullptr);
  auto* enc = static_cast<X264Encoder*>(created.get());
  EXPECT_EQ(enc->frameRate(), kFallbackFrameRate);
  EXPECT_EQ(enc->bitrate(), kFallbackBitrate);

  // Frame rates of 0 or below and bitrates below 1 change nothing.
  Session s(TestParams(640, 360, 30, kProfileBaseline, 704000, 15), Scene::kMovingWindow);
  ASSERT_TRUE(s.encoder().Open());
  s.Encode(2);
  for (int rate : {0, -3, INT32_MIN}) {
    s.params().word[FrameEncodeParams::kFrameRate] = rate;
    s.params().word[FrameEncodeParams::kBitrate] = rate;
    EXPECT_GT(s.Encode(2), 0u);
  }
  EXPECT_EQ(s.encoder().opens, 1);
  EXPECT_EQ(s.encoder().reconfigs, 0);
  EXPECT_EQ(s.encoder().frameRate(), 15);
  EXPECT_EQ(s.encoder().bitrate(), 704000);
  // A bitrate below 1 kbit/s still reconfigures to a rate the library takes.
  s.params().word[FrameEncodeParams::kBitrate] = 500;
  s.params().word[FrameEncodeParams::kFrameRate] = 15;
  EXPECT_GT(s.Encode(2), 0u);
  EXPECT_EQ(s.encoder().reconfigKbps, std::vector<int>{1});
  s.DecodeNew();
  const std::vector<std::string> errors = s.Errors();
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST(X264Failures, FailedReopenStopsEncodingUntilTheNextPictureReopens) {
  LogCapture log;
  Session s(TestParams(640, 360, 30, kProfileHigh, 704000, 15), Scene::kMovingWindow, &log);
  WatchedX264Encoder& enc = s.encoder();
  ASSERT_TRUE(enc.Open());
  s.Encode(4);
  s.DecodeNew();

  // The reopen for a raised bitrate fails, and so does the retry on the
  // next picture: nothing is sent and nothing crashes.
  enc.failOpens = 2;
  s.params().word[FrameEncodeParams::kBitrate] = 2000000;
  EXPECT_EQ(s.Encode(1), 0u);
  EXPECT_FALSE(enc.isOpen());
  EXPECT_EQ(s.Encode(1), 0u);
  EXPECT_EQ(enc.opens, 3);  // one try per picture
  EXPECT_EQ(log.error, std::vector<std::string>(2, "Fail to create x264 encoder [0]."));

  // The next picture opens it again: a new stream with a key picture.
  s.Encode(3);
  EXPECT_TRUE(enc.isOpen());
  EXPECT_EQ(enc.opens, 4);
  EXPECT_EQ(enc.libraryParams().rc.i_bitrate, 1990);
  std::vector<bool> keys = s.DecodeNew();
  ASSERT_FALSE(keys.empty());
  EXPECT_TRUE(keys[0]);

  // A failed reconfiguration is reported and encoding goes on.
  enc.failReconfigs = 1;
  s.params().word[FrameEncodeParams::kBitrate] = 1000000;
  EXPECT_GT(s.Encode(2), 0u);
  EXPECT_EQ(log.error.back(), "Enc[0] x264_encoder_reconfig failed.");
  EXPECT_EQ(enc.opens, 4);
  s.DecodeNew();
  const std::vector<std::string> errors = s.Errors();
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST(X264Failures, CreationFailureAndUnfitPictures) {
  LogCapture log;
  FrameEncodeParams params = TestParams(0, 0, 5, kProfileHigh, 704000, 15);
  EncoderConfig config = MakeEncoderConfig(params, 7, log.hooks());
  RtpDepacketiser sink(65536);
  EXPECT_EQ(CreateVideoEncoder(&config, &sink), nullptr);
  EXPECT_EQ(log.error.back(), "Fail to create x264 encoder [7].");
  EXPECT_EQ(CreateVideoEncoder(nullptr, &sink), nullptr);

  // Pictures that do not match the opened size, or lack a plane, are dropped.
  Session s(TestParams(640, 360, 30, kProfileHigh, 704000, 15), Scene::kStatic);
  ASSERT_TRUE(s.encoder().Open());
  DesktopSequence small(320, 180, Scene::kStatic);
  FramePicture pic = small.picture();
  s.encoder().Encode(&pic, &s.params());
  DesktopSequence right(640, 360, Scene::kStatic);
  pic = right.picture();
  pic.u = nullptr;
  s.encoder().Encode(&pic, &s.params());
  pic = right.picture();
  pic.yStride = 320;
  s.encoder().Encode(&pic, &s.params());
  s.encoder().Encode(nullptr, &s.params());
  EXPECT_TRUE(s.encoder().produced.empty());
  EXPECT_GT(s.Encode(3), 0u);
}

}  // namespace
