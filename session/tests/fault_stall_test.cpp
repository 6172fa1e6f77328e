// A device that stops reading for 10 s while the sender streams a busy
// screen. Figures checked: the time from the stop to the reported loss (the
// 4 s bound on a send without progress), the growth of resident memory
// meanwhile (no queue may grow), the thread count after the loss, and a
// decodable stream on the next pairing.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>

#include "fault_support.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "tdwire.h"
#include "test_x_server.h"

namespace {

TEST(DeviceStall, StopsReadingForTenSeconds) {
  plat_test::TestXServer x;
  ASSERT_TRUE(x.Start()) << x.error();
  setenv("DISPLAY", x.display().c_str(), 1);
  fault::NoisePainter noise;
  ASSERT_TRUE(noise.start());

  const char* address = "127.0.81.10";
  FakeDevice dev(address);
  // A small window on the device's side, so the sender's buffers fill soon.
  ASSERT_TRUE(dev.setReceiveBufferSize(4096));
  fault::OwnedSession session;
  TDSdkHandle h = session.h;
  CaptureHandler capture = TDS_GetSetCaptureHandler(h);
  TDS_RECT screen{0, 0, 1920, 1080};
  capture.setCaptureArea(capture.capture, &screen);
  const int threads = fault::ThreadBaseline();

  EventLog log;
  fault::DisconnectAtEnd disconnect(h);
  fault::PairWith(h, dev, address, log);
  ASSERT_FALSE(HasFatalFailure());
  // 1280x720, 30 frames a second, the highest bit rate.
  const auto params = fault::ParamsRecord(18, 30, 2, 4096000, 100);
  fault::StartEncoding(h, dev, log, params);
  ASSERT_FALSE(HasFatalFailure());
  {
    fault::MediaReceiver rx;
    Frame f;
    while (rx.decoded().size() < 20) {
      ASSERT_TRUE(fault::NextMedia(dev, f, 5000));
      rx.take(f);
    }
    ASSERT_TRUE(rx.errors().empty()) << rx.errors().front();
  }

  // Stop reading; keep sending keep-alives, so that only the bound on a
  // stalled send can end the connection.
  const long rssBefore = fault::RssKiB();
  long rssPeak = rssBefore;
  const std::int64_t stop = plat::monotonicUs();
  std::int64_t lost = 0;
  while (plat::monotonicUs() - stop < 10000000) {
    if (!lost && log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE, 0)) {
      lost = plat::monotonicUs();
    }
    rssPeak = std::max(rssPeak, fault::RssKiB());
    if (!lost) dev.sendFrame(TDMSG_KEEPALIVE);
    plat::sleepMs(100);
  }
  const long rssAfter = fault::RssKiB();
  std::printf("device stopped reading: loss reported after %.2f s; resident memory %ld KiB before, peak +%ld KiB, "
              "+%ld KiB after\n",
              lost ? (lost - stop) / 1e6 : -1.0, rssBefore, rssPeak - rssBefore, rssAfter - rssBefore);
  ASSERT_NE(lost, 0) << "the stalled connection was never given up";
  // The buffers fill within a second or so; then 4 s without progress.
  EXPECT_GE(lost - stop, 4000000);
  EXPECT_LE(lost - stop, 7000000);
  if (!fault::UnderAddressSanitizer()) EXPECT_LT(rssPeak - rssBefore, 4096);

  // Reading again, the device finds what was sent before the send was given
  // up, then the end of the connection.
  EXPECT_TRUE(dev.waitClosed(5000));
  EXPECT_EQ(fault::CountEvents(log, SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE), 1);
  EXPECT_TRUE(fault::WaitUntil([&] { return fault::ThreadCount() == threads; }, 3000))
      << fault::ThreadCount() << " threads, " << threads << " before";
  TDS_Disconnect(h);
  dev.closeConnection();

  // The next pairing streams as before.
  EventLog again;
  fault::DisconnectAtEnd disconnectAgain(h);
  fault::PairWith(h, dev, address, again);
  ASSERT_FALSE(HasFatalFailure());
  fault::StartEncoding(h, dev, again, params);
  ASSERT_FALSE(HasFatalFailure());
  fault::MediaReceiver rx;
  Frame f;
  while (rx.decoded().size() < 10) {
    ASSERT_TRUE(fault::NextMedia(dev, f, 5000));
    rx.take(f);
  }
  EXPECT_TRUE(rx.errors().empty()) << rx.errors().front();
  EXPECT_EQ(rx.decoded().front().width, 1280);
  noise.stop();
}

// A stall shorter than the bound: the stream resumes where it stopped,
// nothing lost, still decodable, and nothing reported.
TEST(DeviceStall, StopsReadingForTwoSecondsAndResumes) {
  plat_test::TestXServer x;
  ASSERT_TRUE(x.Start()) << x.error();
  setenv("DISPLAY", x.display().c_str(), 1);
  fault::NoisePainter noise;
  ASSERT_TRUE(noise.start());

  const char* address = "127.0.81.11";
  FakeDevice dev(address);
  ASSERT_TRUE(dev.setReceiveBufferSize(4096));
  fault::OwnedSession session;
  TDSdkHandle h = session.h;
  CaptureHandler capture = TDS_GetSetCaptureHandler(h);
  TDS_RECT screen{0, 0, 1920, 1080};
  capture.setCaptureArea(capture.capture, &screen);
  EventLog log;
  fault::DisconnectAtEnd disconnect(h);
  fault::PairWith(h, dev, address, log);
  ASSERT_FALSE(HasFatalFailure());
  fault::StartEncoding(h, dev, log, fault::ParamsRecord(18, 30, 2, 4096000, 100));
  ASSERT_FALSE(HasFatalFailure());

  fault::MediaReceiver rx;
  Frame f;
  while (rx.decoded().size() < 10) {
    ASSERT_TRUE(fault::NextMedia(dev, f, 5000));
    rx.take(f);
  }
  for (int i = 0; i < 20; ++i) {
    dev.sendFrame(TDMSG_KEEPALIVE);
    plat::sleepMs(100);
  }
  const std::size_t before = rx.decoded().size();
  while (rx.decoded().size() < before + 30) {
    ASSERT_TRUE(fault::NextMedia(dev, f, 5000)) << "the stream did not resume";
    rx.take(f);
  }
  std::printf("device paused 2 s: %zu pictures decoded after it, %d sequence gaps, %zu errors\n",
              rx.decoded().size() - before, rx.seqGaps(), rx.errors().size());
  EXPECT_TRUE(rx.errors().empty()) << rx.errors().front();
  EXPECT_EQ(fault::CountEvents(log, SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE), 0);
}

}  // namespace
