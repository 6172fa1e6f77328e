// The session's time limits: connect limit and keep-alive limit, which hold
// when the wall clock is stepped (an NTP correction, a user setting the
// time) while the session runs. The machine's clock is never touched: this
// program defines the C library's wall-clock readers itself, ahead of the
// library, and adds a step of its choosing to what they report; every other
// clock passes through.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "event_log.h"
#include "fake_device.h"
#include "platform/clock.h"
#include "tdsdk.h"
#include "tdwire.h"

namespace {

std::atomic<long long> wallStepSeconds{0};

bool IsWallClock(clockid_t id) { return id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE; }

}  // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec* ts) noexcept {
  if (syscall(SYS_clock_gettime, id, ts) != 0) return -1;
  if (IsWallClock(id)) ts->tv_sec += static_cast<time_t>(wallStepSeconds.load());
  return 0;
}

extern "C" time_t time(time_t* out) noexcept {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  if (out) *out = ts.tv_sec;
  return ts.tv_sec;
}

extern "C" int gettimeofday(struct timeval* tv, void* /*zone*/) noexcept {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  *tv = timeval{ts.tv_sec, static_cast<suseconds_t>(ts.tv_nsec / 1000)};
  return 0;
}

namespace {

constexpr long long kHour = 3600;

double SecondsSince(std::int64_t t0) { return (plat::monotonicUs() - t0) / 1e6; }

struct Timeouts : ::testing::Test {
  void SetUp() override {
    // The readers above are the ones that every library of the process,
    // the session's included, reaches.
    ASSERT_EQ(dlsym(RTLD_DEFAULT, "clock_gettime"), reinterpret_cast<void*>(&clock_gettime));
    ASSERT_EQ(dlsym(RTLD_DEFAULT, "time"), reinterpret_cast<void*>(&time));
    ASSERT_EQ(dlsym(RTLD_DEFAULT, "gettimeofday"), reinterpret_cast<void*>(&gettimeofday));
  }
  void TearDown() override { wallStepSeconds = 0; }
};

TEST_F(Timeouts, NothingListeningEndsAsConnectTimeoutAfterFiveToSixSecondsThoughTheWallClockStepsBack) {
  LoggedSession s;
  std::int64_t t0 = plat::monotonicUs();
  int r = s.pair("127.0.10.20");
  EXPECT_TRUE(r == TDS_PENDING || r == TDS_FAILED) << r;
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  wallStepSeconds = -kHour;
  ASSERT_TRUE(s.log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTING_TIMEOUT, 8000))
      << "no connect time-out " << SecondsSince(t0) << " s after the attempt";
  double t = SecondsSince(t0);
  EXPECT_GE(t, 4.9);
  EXPECT_LE(t, 6.3);
  EXPECT_EQ(s.log.events().size(), 1u);
}

TEST_F(Timeouts, AddressThatIsNotDottedIPv4FailsAndTimesOut) {
  LoggedSession s;
  EXPECT_EQ(s.pair("not-an-address"), TDS_FAILED);
  ASSERT_TRUE(s.log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTING_TIMEOUT, 8000));
}

TEST_F(Timeouts, SilentDeviceIsLostSevenToEightSecondsAfterTheBannerThoughTheWallClockStepsBack) {
  FakeDevice dev("127.0.10.21");
  ASSERT_TRUE(dev.listening());
  LoggedSession s;
  s.pair("127.0.10.21");
  ASSERT_TRUE(dev.accept());
  Frame f;
  ASSERT_TRUE(dev.readFrame(f));
  ASSERT_EQ(f.type, unsigned(TDMSG_PAIR_BANNER));
  std::int64_t t0 = plat::monotonicUs();
  ASSERT_TRUE(dev.sendFrame(TDMSG_PAIR_SUCCEED_INDIC));
  // The device reads (so the session's sends flow) but never answers; the
  // wall clock goes back an hour a second into the silence.
  EXPECT_FALSE(dev.waitClosed(1000));
  wallStepSeconds = -kHour;
  EXPECT_TRUE(dev.waitClosed(9000)) << "still open " << SecondsSince(t0) << " s into the silence";
  double t = SecondsSince(t0);
  EXPECT_GE(t, 6.9);
  EXPECT_LE(t, 8.3);
  EXPECT_TRUE(s.log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE, 1000));
}

TEST_F(Timeouts, KeepAlivesFromTheDeviceKeepTheSessionOpen) {
  FakeDevice dev("127.0.10.22");
  LoggedSession s;
  s.pair("127.0.10.22");
  ASSERT_TRUE(dev.accept());
  ASSERT_TRUE(dev.acceptPairing());
  std::int64_t t0 = plat::monotonicUs();
  while (SecondsSince(t0) < 10) {
    ASSERT_TRUE(dev.sendFrame(TDMSG_KEEPALIVE));
    dev.drain(1000);
  }
  EXPECT_FALSE(s.log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE, 10));
}

}  // namespace
