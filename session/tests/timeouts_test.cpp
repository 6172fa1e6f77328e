// The session's time limits: connect limit and keep-alive limit.
#include <gtest/gtest.h>

#include "event_log.h"
#include "fake_device.h"
#include "platform/clock.h"
#include "tdsdk.h"
#include "tdwire.h"

namespace {

double SecondsSince(std::int64_t t0) { return (plat::monotonicUs() - t0) / 1e6; }

TEST(Timeouts, NothingListeningEndsAsConnectTimeoutAfterFiveToSixSeconds) {
  TDSdkHandle h = CreateTDSdkHandle();
  EventLog log;
  std::int64_t t0 = plat::monotonicUs();
  int r = TDS_AttemptToPair(h, "127.0.10.20", &log, &EventLog::callback);
  EXPECT_TRUE(r == TDS_PENDING || r == TDS_FAILED) << r;
  ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTING_TIMEOUT, 8000));
  double t = SecondsSince(t0);
  EXPECT_GE(t, 4.9);
  EXPECT_LE(t, 6.3);
  EXPECT_EQ(log.events().size(), 1u);
  DestroyTDSdkHandle(h);
}

TEST(Timeouts, AddressThatIsNotDottedIPv4FailsAndTimesOut) {
  TDSdkHandle h = CreateTDSdkHandle();
  EventLog log;
  EXPECT_EQ(TDS_AttemptToPair(h, "not-an-address", &log, &EventLog::callback), TDS_FAILED);
  ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTING_TIMEOUT, 8000));
  DestroyTDSdkHandle(h);
}

TEST(Timeouts, SilentDeviceIsLostSevenToEightSecondsAfterTheBanner) {
  FakeDevice dev("127.0.10.21");
  TDSdkHandle h = CreateTDSdkHandle();
  EventLog log;
  TDS_AttemptToPair(h, "127.0.10.21", &log, &EventLog::callback);
  ASSERT_TRUE(dev.accept());
  Frame f;
  ASSERT_TRUE(dev.readFrame(f));
  ASSERT_EQ(f.type, unsigned(TDMSG_PAIR_BANNER));
  std::int64_t t0 = plat::monotonicUs();
  ASSERT_TRUE(dev.sendFrame(TDMSG_PAIR_SUCCEED_INDIC));
  // The device reads (so the session's sends flow) but never answers.
  EXPECT_TRUE(dev.waitClosed(10000));
  double t = SecondsSince(t0);
  EXPECT_GE(t, 6.9);
  EXPECT_LE(t, 8.3);
  EXPECT_TRUE(log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE, 1000));
  DestroyTDSdkHandle(h);
}

TEST(Timeouts, KeepAlivesFromTheDeviceKeepTheSessionOpen) {
  FakeDevice dev("127.0.10.22");
  TDSdkHandle h = CreateTDSdkHandle();
  EventLog log;
  TDS_AttemptToPair(h, "127.0.10.22", &log, &EventLog::callback);
  ASSERT_TRUE(dev.accept());
  ASSERT_TRUE(dev.acceptPairing());
  std::int64_t t0 = plat::monotonicUs();
  while (SecondsSince(t0) < 10) {
    ASSERT_TRUE(dev.sendFrame(TDMSG_KEEPALIVE));
    dev.drain(1000);
  }
  EXPECT_FALSE(log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE, 10));
  DestroyTDSdkHandle(h);
}

}  // namespace
