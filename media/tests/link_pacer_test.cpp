// The pacer against a simulated link: a queue that drains at the link's
// rate, fed with pictures of the size the bit rate gives (with the spread of
// a real encoder and an intra picture at the start).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "media/link_pacer.h"

namespace {

constexpr int kFps = 30;
constexpr std::int64_t kTickUs = 1000000 / kFps;
constexpr std::int32_t kDeviceRate = 4000000;

// What a stretch of ticks looked like.
struct Stretch {
  int ticks = 0;
  int taken = 0;
  double maxWaitMs = 0;  // longest time a taken picture's last byte waited
  std::vector<double> waitsMs;
  std::int32_t minRate = INT32_MAX, maxRate = 0;

  double fps() const { return ticks ? taken * double(kFps) / ticks : 0; }
  double p95WaitMs() {
    if (waitsMs.empty()) return 0;
    std::sort(waitsMs.begin(), waitsMs.end());
    return waitsMs[waitsMs.size() * 95 / 100];
  }
};

class Link {
 public:
  explicit Link(double bitsPerSecond) : rate_(bitsPerSecond) {}
  void setRate(double bitsPerSecond) { rate_ = bitsPerSecond; }

  // Runs `seconds` of ticks with the device asking deviceRate.
  Stretch run(double seconds, std::int32_t deviceRate = kDeviceRate) {
    Stretch s;
    const int ticks = static_cast<int>(seconds * kFps);
    for (int i = 0; i < ticks; ++i) {
      ++s.ticks;
      if (pacer.admit(static_cast<long>(backlog_), nowUs_)) {
        const std::int32_t r = pacer.bitRate(deviceRate, kFps);
        // An encoder meets its rate on average, picture by picture within
        // about a third; the first picture is an intra picture of ten.
        double bytes = r / 8.0 / kFps * spread_(random_);
        if (first_) bytes *= 10;
        first_ = false;
        backlog_ += bytes;
        pacer.sent(static_cast<long>(bytes));
        ++s.taken;
        const double waitMs = rate_ > 0 ? backlog_ * 8 / rate_ * 1000 : 1e9;
        s.waitsMs.push_back(waitMs);
        s.maxWaitMs = std::max(s.maxWaitMs, waitMs);
        s.minRate = std::min(s.minRate, r);
        s.maxRate = std::max(s.maxRate, r);
      }
      nowUs_ += kTickUs;
      backlog_ = std::max(0.0, backlog_ - rate_ / 8 * kTickUs / 1e6);
    }
    return s;
  }

  CLinkPacer pacer;

 private:
  double rate_;
  double backlog_ = 0;
  std::int64_t nowUs_ = 1000000;
  bool first_ = true;
  std::mt19937 random_{17};
  std::uniform_real_distribution<double> spread_{0.7, 1.3};
};

TEST(LinkPacer, NarrowLinksSettleNearTheirRateWithAShortQueueAndMostPictures) {
  for (double linkRate : {1e6, 2e6}) {
    SCOPED_TRACE(linkRate);
    Link link(linkRate);
    link.run(10);
    Stretch s = link.run(30);
    // The rate saws between a cut below the link and a raise a little above.
    EXPECT_GE(s.minRate, 0.6 * linkRate);
    EXPECT_LE(s.maxRate, 1.3 * linkRate);
    EXPECT_LE(s.maxRate, kDeviceRate);
    EXPECT_GE(s.fps(), 25);
    // A picture waits behind at most the bound, about two pictures.
    EXPECT_LE(s.p95WaitMs(), 100);
    EXPECT_LE(s.maxWaitMs, 200);
  }
}

TEST(LinkPacer, FollowsALinkThatNarrowsAndWidensAgain) {
  Link link(40e6);
  Stretch wide = link.run(5);
  EXPECT_EQ(wide.minRate, kDeviceRate);
  EXPECT_EQ(link.pacer.skipped(), 0u);

  link.setRate(1e6);
  Stretch narrowing = link.run(3);
  EXPECT_LE(narrowing.minRate, 1e6) << "the rate comes down to the link within 3 s";
  EXPECT_LE(narrowing.maxWaitMs, 800) << "the queue of the wide rate drains within the first skips";
  Stretch narrow = link.run(10);
  EXPECT_LE(narrow.p95WaitMs(), 100);
  EXPECT_GE(narrow.fps(), 25);

  link.setRate(40e6);
  link.run(10);
  EXPECT_EQ(link.pacer.rate(), kDeviceRate) << "back at the device's rate within 10 s";
  EXPECT_FALSE(link.pacer.limited());
  const std::uint64_t skipped = link.pacer.skipped();
  Stretch again = link.run(5);
  EXPECT_EQ(again.minRate, kDeviceRate);
  EXPECT_EQ(link.pacer.skipped(), skipped);
}

TEST(LinkPacer, AMomentaryPauseOfTheReceiverIsWaitedOutWithoutCuttingTheRate) {
  Link link(40e6);
  link.run(3);
  for (int round = 0; round < 5; ++round) {
    link.setRate(0);
    link.run(3.0 / kFps);
    link.setRate(40e6);
    link.run(2);
  }
  EXPECT_EQ(link.pacer.rate(), kDeviceRate);
  EXPECT_FALSE(link.pacer.limited());
}

TEST(LinkPacer, ALinkThatPausesCostsAtMostHalfTheRateAndGetsNothingMeanwhile) {
  Link link(3e6);
  link.run(10);
  const std::int32_t before = link.pacer.rate();
  link.setRate(0);
  Stretch pause = link.run(0.9);
  EXPECT_LE(pause.taken, 1) << "nothing is added to a queue that does not drain";
  // The window still holds the last bytes before the pause: at most one
  // halving, then nothing more while nothing is delivered.
  EXPECT_GE(link.pacer.rate(), before / 2);
  link.setRate(1e6);
  link.run(5);
  EXPECT_LE(link.pacer.rate(), 1.3e6) << "a narrower link after it is fitted as ever";
}

TEST(LinkPacer, ALinkThatDeliversNothingForFourSecondsIsDead) {
  // As long as a blocked send may wait: a device that stopped reading is
  // given up as soon as it would be unpaced, and nothing piles up meanwhile.
  Link link(3e6);
  link.run(5);
  link.setRate(0);
  Stretch still = link.run(3.8);
  EXPECT_FALSE(link.pacer.dead());
  EXPECT_LE(still.taken, 2);
  link.run(0.4);
  EXPECT_TRUE(link.pacer.dead());
}

TEST(LinkPacer, NeverAboveTheDeviceRateAndFollowsItWhileTheLinkKeepsUp) {
  Link link(1e6);
  link.run(10);
  ASSERT_TRUE(link.pacer.limited());
  // The device lowers its rate below what the link carries: taken at once.
  Stretch lower = link.run(1, 500000);
  EXPECT_EQ(lower.maxRate, 500000);
  EXPECT_FALSE(link.pacer.limited());
  // And raises it while the link keeps up: followed at once, then fitted.
  Link wide(20e6);
  wide.run(2);
  Stretch raised = wide.run(2, 8000000);
  EXPECT_EQ(raised.minRate, 8000000);
  // A rate of 0 (a bit-rate indication may carry one) is passed on as it is.
  EXPECT_EQ(wide.pacer.bitRate(0, kFps), 0);
  EXPECT_EQ(wide.pacer.rate(), 8000000);
}

TEST(LinkPacer, TakesEveryPictureWhenTheBacklogIsUnknown) {
  CLinkPacer pacer;
  pacer.bitRate(kDeviceRate, kFps);
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(pacer.admit(-1, 1000000 + i * kTickUs));
  EXPECT_EQ(pacer.rate(), kDeviceRate);
}

}  // namespace
