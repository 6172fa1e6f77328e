// The screen under the sender: it changes size while streaming (RandR on a
// private Xvfb), and it stays still for a minute. Figures: pictures decoded
// after each size change; for the still screen, the picture rate against
// the requested one and the bit rate against the target.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>

#include "fault_support.h"
#include "platform/clock.h"
#include "tdwire.h"
#include "test_screen.h"
#include "test_x_server.h"

namespace {

// Mean luma of the columns from x0 on of a decoded picture.
double MeanLuma(const DecodedPicture& p, int x0) {
  double sum = 0;
  long n = 0;
  for (int y = 0; y < p.height; ++y) {
    for (int x = x0; x < p.width; ++x, ++n) sum += p.y[static_cast<std::size_t>(y) * p.width + x];
  }
  return n ? sum / n : 0;
}

class Screen : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x.Start("1920x1080x24", {"+extension", "RANDR"})) << x.error();
    setenv("DISPLAY", x.display().c_str(), 1);
    ASSERT_TRUE(plat_test::PaintPattern());
    fault::CaptureWholeScreen(h);
  }
  void TearDown() override { DestroyTDSdkHandle(h); }

  plat_test::TestXServer x;
  TDSdkHandle h = CreateTDSdkHandle();
  EventLog log;
};

TEST_F(Screen, ChangesSizeWhileStreaming) {
  const char* address = "127.0.84.10";
  FakeDevice dev(address);
  fault::PairWith(h, dev, address, log);
  ASSERT_FALSE(HasFatalFailure());
  fault::StartEncoding(h, dev, log, fault::ParamsRecord(30, 15, 1, 800000, 66));  // 640x360
  ASSERT_FALSE(HasFatalFailure());

  // One run throughout: the size of the screen is not the device's business.
  fault::MediaReceiver rx;
  Frame f;
  ASSERT_TRUE(fault::NextRunStart(dev, f));
  rx.take(f);

  const int kSizes[][2] = {{1280, 720}, {800, 600}, {1920, 1080}, {1024, 768}, {640, 480}, {1920, 1080}};
  for (const auto& size : kSizes) {
    SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
    ASSERT_TRUE(fault::SetScreenSize(size[0], size[1]));
    ASSERT_TRUE(plat_test::PaintPattern());
    ASSERT_TRUE(fault::ReceivePictures(dev, rx, rx.decoded().size() + 6)) << "the stream stopped";
    // The area stays 1920x1080: what lies beyond a smaller screen is black
    // (luma 16), the painted pattern is not. The right quarter shows which.
    double right = MeanLuma(rx.decoded().back(), 480);
    std::printf("screen %dx%d: %zu pictures decoded so far, right quarter luma %.0f\n", size[0], size[1],
                rx.decoded().size(), right);
    if (size[0] <= 1440) {
      EXPECT_LT(right, 24);
    } else {
      EXPECT_GT(right, 40);
    }
  }
  EXPECT_TRUE(rx.errors().empty()) << rx.errors().front();
  EXPECT_EQ(fault::CountEvents(log, SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE), 0);
}

// A still screen for 60 s at 1280x720, 15 frames a second, 2 Mbit/s.
TEST_F(Screen, StaysStillForSixtySeconds) {
  const char* address = "127.0.85.10";
  const double kRate = 15, kTargetKbps = 2000, kSeconds = 60;
  FakeDevice dev(address);
  fault::PairWith(h, dev, address, log);
  ASSERT_FALSE(HasFatalFailure());
  fault::StartEncoding(h, dev, log, fault::ParamsRecord(18, 15, 1, 2000000, 100));
  ASSERT_FALSE(HasFatalFailure());

  fault::MediaReceiver rx;
  Frame f;
  ASSERT_TRUE(fault::NextRunStart(dev, f));
  rx.take(f);
  // Past the first pictures (the IDR and the encoder's first refinements).
  while (rx.pictures() < 30) {
    ASSERT_TRUE(fault::NextMedia(dev, f, 5000));
    rx.take(f);
  }

  const int pictures0 = rx.pictures();
  const std::uint64_t bytes0 = rx.payloadBytes();
  const std::int64_t t0 = plat::monotonicUs();
  std::int64_t lastPicture = t0, longestGap = 0;
  while (plat::monotonicUs() - t0 < kSeconds * 1e6) {
    ASSERT_TRUE(fault::NextMedia(dev, f, 5000)) << "the stream stopped";
    int had = rx.pictures();
    rx.take(f);
    if (rx.pictures() > had) {
      std::int64_t now = plat::monotonicUs();
      longestGap = std::max(longestGap, now - lastPicture);
      lastPicture = now;
    }
  }
  const double seconds = (plat::monotonicUs() - t0) / 1e6;
  const double rate = (rx.pictures() - pictures0) / seconds;
  const double kbps = (rx.payloadBytes() - bytes0) * 8 / seconds / 1000;
  std::printf("still screen %.0f s: %.2f pictures/s (requested %.0f), longest gap %.0f ms, %.1f kbit/s "
              "(target %.0f kbit/s, %.2f%%)\n",
              seconds, rate, kRate, longestGap / 1e3, kbps, kTargetKbps, 100 * kbps / kTargetKbps);
  EXPECT_GE(rate, 0.8 * kRate);
  EXPECT_LT(longestGap, 1000000);
  EXPECT_LT(kbps, 0.1 * kTargetKbps);
  EXPECT_TRUE(rx.errors().empty()) << rx.errors().front();
  EXPECT_EQ(rx.decoded().size(), static_cast<std::size_t>(rx.pictures()));
}

}  // namespace
