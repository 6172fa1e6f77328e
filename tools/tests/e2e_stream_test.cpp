// Screen sharing end to end: the test pattern on a private X server, the
// sender through the exported session interface, the reference device
// decoding on loopback, all in this process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include "device/device.h"
#include "e2e_support.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace {

// The screen: larger than the pictures asked for, so the sender scales.
// Sizes and rates are modest so that the whole chain keeps its pace on a
// busy two-core machine.
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 720;
constexpr int kPatternFps = 30;

constexpr int kCode960x540 = 31;
constexpr int kCode640x480 = 7;

// Pictures that may reach the device between its intra picture request and
// the IDR picture: the frame already grabbed and waiting for its tick, and
// one more when the request lands while a picture is being encoded.
constexpr std::size_t kIntraPictureLimit = 2;

// Figures of the device's statistics between two moments.
struct Span {
  double seconds;
  double picturesPerSecond;
  double kbps;
};

Span measure(const device::Device& dev, int ms) {
  const device::StreamStats a = dev.streamStats();
  const std::int64_t t0 = plat::monotonicUs();
  plat::sleepMs(ms);
  const device::StreamStats b = dev.streamStats();
  const double s = (plat::monotonicUs() - t0) / 1e6;
  return Span{s, (b.decoded - a.decoded) / s, (b.bytes - a.bytes) * 8 / s / 1000};
}

// The picture rate over windows of `ms`, as many as it takes (up to
// `attempts`) for one to come within 10 % of `target`: a machine busy with
// other work can starve the sender for a moment, but a sender that paces
// wrongly or drops pictures misses in every window. Returns the best window.
Span pictureRate(const device::Device& dev, int ms, double target, int attempts = 3) {
  Span best{};
  for (int i = 0; i < attempts; ++i) {
    const Span span = measure(dev, ms);
    if (i == 0 || std::abs(span.picturesPerSecond - target) < std::abs(best.picturesPerSecond - target)) best = span;
    if (std::abs(span.picturesPerSecond - target) <= 0.1 * target) break;
    std::printf("e2e: %.2f pictures/s in a window of %d ms; measuring again\n", span.picturesPerSecond, ms);
  }
  return best;
}

// Waits until pred holds for the device's statistics.
template <typename Pred>
bool waitStats(const device::Device& dev, Pred pred, int timeoutMs) {
  const std::int64_t until = plat::monotonicUs() + std::int64_t{timeoutMs} * 1000;
  while (!pred(dev.streamStats())) {
    if (plat::monotonicUs() > until) return false;
    plat::sleepMs(10);
  }
  return true;
}

class E2eStream : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    screen_ = new e2e::PatternScreen;
    pattern::PatternWindowOptions o;
    o.fps = kPatternFps;
    std::string error;
    ASSERT_TRUE(screen_->start(kScreenWidth, kScreenHeight, o, &error)) << error;
  }
  static void TearDownTestSuite() {
    delete screen_;
    screen_ = nullptr;
  }

  void SetUp() override { ASSERT_TRUE(screen_ && screen_->running()) << "no pattern on the screen"; }

  void TearDown() override {
    sender_.reset();
    device_.reset();
  }

  // 960x540, 30 pictures a second, 4 Mbit/s, high profile.
  static device::EncodingRequest request() {
    device::EncodingRequest r;
    r.resolutionCode = kCode960x540;
    r.profile = 100;
    device::setFrameRate(30, &r);
    r.bitRate = 4000000;
    return r;
  }

  // Device on address, sender paired with it and streaming the screen;
  // returns once the device decodes pictures.
  void startSharing(const char* address, const device::EncodingRequest& r) {
    device::DeviceOptions o;
    o.bindAddress = address;
    // The moment the device thread sent an intra picture request.
    o.log = [this](const std::string& line) {
      if (line.find("sent intra picture request") != std::string::npos) intraSentUs_ = plat::monotonicUs();
    };
    o.readStamps = true;
    o.encoding = r;
    o.onPicture = [this](const device::DecodedFrame& f) { pictures_.observe(f); };
    device_ = std::make_unique<device::Device>(o);
    std::string error;
    ASSERT_TRUE(device_->start(&error)) << error;
    sender_ = std::make_unique<e2e::Sender>();
    sender_->shareArea(kScreenWidth, kScreenHeight);
    ASSERT_TRUE(sender_->pair(address));
    ASSERT_TRUE(sender_->startStream());
    ASSERT_TRUE(waitStats(*device_, [](const device::StreamStats& s) { return s.decoded >= 5; }, 5000))
        << "no pictures decoded";
  }

  // Keeps `count` decoded pictures, a few apart, and compares each with the
  // pattern frame its stamp names. Returns the PSNR figures, lowest first,
  // and checks on the way that no neighbouring frame of the pattern matches
  // better than the one the stamp names: the stamp and the content agree.
  std::vector<double> psnrOfPictures(std::size_t count) {
    pictures_.sample(5, count);
    const std::int64_t until = plat::monotonicUs() + 5000000;
    std::vector<e2e::LumaSample> samples;
    while (samples.size() < count && plat::monotonicUs() < until) {
      plat::sleepMs(50);
      for (e2e::LumaSample& s : pictures_.takeSamples()) samples.push_back(std::move(s));
      pictures_.sample(5, count - samples.size());
    }
    pictures_.sample(0, 0);
    std::vector<double> psnr;
    for (const e2e::LumaSample& s : samples) {
      const double own = e2e::patternPsnr(s, kScreenWidth, kScreenHeight);
      for (int offset : {-2, -1, 1, 2}) {
        EXPECT_LT(e2e::patternPsnr(s, kScreenWidth, kScreenHeight, offset), own)
            << "frame " << s.stampCounter << " looks more like frame " << s.stampCounter + offset;
      }
      psnr.push_back(own);
    }
    std::sort(psnr.begin(), psnr.end());
    return psnr;
  }

  static e2e::PatternScreen* screen_;
  e2e::PictureLog pictures_;  // outlives the device that feeds it
  std::atomic<std::int64_t> intraSentUs_{0};
  std::unique_ptr<device::Device> device_;
  std::unique_ptr<e2e::Sender> sender_;
};
e2e::PatternScreen* E2eStream::screen_ = nullptr;

TEST_F(E2eStream, DecodedPicturesShowThePatternAtTheRequestedSizeAndRate) {
  startSharing("127.0.70.1", request());
  plat::sleepMs(1000);  // past the start and the first rate-control settling
  const Span span = pictureRate(*device_, 3000, 30.0);
  std::vector<double> psnr = psnrOfPictures(8);
  const device::StreamStats stats = device_->streamStats();
  std::printf("e2e: 960x540 at 30/s from %dx%d: %.2f pictures/s, %.0f kbps, latency median %.1f ms p95 %.1f ms\n",
              kScreenWidth, kScreenHeight, span.picturesPerSecond, span.kbps, stats.latencyMedianMs,
              stats.latencyP95Ms);

  EXPECT_EQ(stats.width, 960);
  EXPECT_EQ(stats.height, 540);
  for (const e2e::PictureRecord& r : pictures_.records()) {
    ASSERT_EQ(r.width, 960);
    ASSERT_EQ(r.height, 540);
  }
  EXPECT_NEAR(span.picturesPerSecond, 30.0, 3.0);
  EXPECT_EQ(stats.decodeErrors, 0u);
  EXPECT_EQ(stats.sequenceGaps, 0u);
  EXPECT_GT(stats.stamps, stats.decoded * 9 / 10) << "the stamp is read from nearly every picture";

  ASSERT_EQ(psnr.size(), 8u);
  std::printf("e2e: PSNR against the pattern over %zu pictures: min %.1f dB, median %.1f dB, max %.1f dB\n",
              psnr.size(), psnr.front(), psnr[psnr.size() / 2], psnr.back());
  EXPECT_GE(psnr.front(), 30.0);
}

TEST_F(E2eStream, IntraPictureFollowsARequestAtOnce) {
  startSharing("127.0.70.2", request());
  plat::sleepMs(500);
  // On a busy machine a starved session thread can take a request a tick or
  // two late: the quickest round must meet the limit (a sender that is late
  // by design misses it in every round), every round come close.
  std::vector<std::size_t> between;
  for (int round = 0; round < 5; ++round) {
    intraSentUs_ = 0;
    const std::size_t before = pictures_.count();
    ASSERT_TRUE(device_->requestIntraPicture());
    const std::int64_t until = plat::monotonicUs() + 3000000;
    while (pictures_.count() < before + 10 && plat::monotonicUs() < until) plat::sleepMs(10);
    const std::vector<e2e::PictureRecord> records = pictures_.records();
    ASSERT_GE(records.size(), before + 10);
    ASSERT_NE(intraSentUs_, 0) << "the device did not say it sent the request";
    // Pictures decoded after the request left the device, up to the IDR one.
    std::size_t first = before;
    while (first < records.size() && records[first].decodedUs <= intraSentUs_) ++first;
    std::size_t idr = first;
    while (idr < records.size() && !records[idr].idr) ++idr;
    ASSERT_LT(idr, records.size()) << "no IDR picture after the request";
    between.push_back(idr - first);
    EXPECT_LE(idr - first, kIntraPictureLimit + 3) << "round " << round;
    // One IDR per request: the encoder makes no others.
    for (std::size_t i = idr + 1; i < records.size(); ++i) EXPECT_FALSE(records[i].idr) << i;
  }
  std::string figures;
  for (std::size_t n : between) figures += " " + std::to_string(n);
  std::printf("e2e: pictures between an intra request and the IDR picture:%s\n", figures.c_str());
  EXPECT_LE(*std::min_element(between.begin(), between.end()), kIntraPictureLimit) << "rounds:" << figures;
}

TEST_F(E2eStream, BitRateChangeMovesTheMeasuredRateTowardIt) {
  startSharing("127.0.70.3", request());
  plat::sleepMs(1000);
  const Span before = measure(*device_, 2000);
  constexpr double kTargetKbps = 250;
  ASSERT_TRUE(device_->sendBitRate(static_cast<std::uint32_t>(kTargetKbps * 1000)));
  plat::sleepMs(1000);  // the rate control takes a moment to follow
  const Span after = measure(*device_, 2000);
  std::printf("e2e: bit-rate change to %.0f kbps: %.0f kbps before, %.0f kbps after\n", kTargetKbps, before.kbps,
              after.kbps);
  EXPECT_GT(before.kbps, 1.5 * kTargetKbps) << "the stream at 4 Mbit/s should carry more than the target";
  EXPECT_LT(std::abs(after.kbps - kTargetKbps), 0.5 * std::abs(before.kbps - kTargetKbps));
  EXPECT_GT(after.picturesPerSecond, 20.0) << "the change keeps the stream going";
}

TEST_F(E2eStream, ParameterUpdateSwitchesTheDecodedSize) {
  startSharing("127.0.70.4", request());
  plat::sleepMs(300);
  const std::size_t before = pictures_.count();
  device::EncodingRequest smaller = request();
  smaller.resolutionCode = kCode640x480;
  smaller.profile = 66;
  ASSERT_TRUE(device_->sendEncodingParams(smaller));
  ASSERT_TRUE(waitStats(*device_, [](const device::StreamStats& s) { return s.width == 640 && s.height == 480; }, 3000))
      << "the decoded size did not switch";
  plat::sleepMs(700);
  const Span span = pictureRate(*device_, 2000, 30.0);
  std::vector<double> psnr = psnrOfPictures(6);

  // The switch is clean: the old size up to one picture, an IDR picture at the
  // new size, and only the new size from then on.
  const std::vector<e2e::PictureRecord> records = pictures_.records();
  std::size_t first = before;
  while (first < records.size() && records[first].width == 960) ++first;
  ASSERT_LT(first, records.size());
  EXPECT_TRUE(records[first].idr);
  for (std::size_t i = first; i < records.size(); ++i) {
    ASSERT_EQ(records[i].width, 640) << i;
    ASSERT_EQ(records[i].height, 480) << i;
  }
  EXPECT_NEAR(span.picturesPerSecond, 30.0, 3.0);
  ASSERT_EQ(psnr.size(), 6u);
  std::printf("e2e: 640x480 after the update: %.2f pictures/s, PSNR min %.1f dB, median %.1f dB\n",
              span.picturesPerSecond, psnr.front(), psnr[psnr.size() / 2]);
  EXPECT_GE(psnr.front(), 30.0);
  EXPECT_EQ(device_->streamStats().decodeErrors, 0u);
}

}  // namespace
