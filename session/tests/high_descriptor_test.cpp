// A session whose socket descriptor lies above the classic descriptor-set
// limit of 1024 (a host application with many files open) pairs, paces its
// keep-alives and detects a lost device like any other.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "event_log.h"
#include "fake_device.h"
#include "platform/clock.h"
#include "tdsdk.h"
#include "tdwire.h"

namespace {

constexpr int kHighDescriptor = 1024;

double SecondsSince(std::int64_t t0) { return (plat::monotonicUs() - t0) / 1e6; }

bool IsSocket(int fd) {
  char target[64] = {};
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  return readlink(link.c_str(), target, sizeof target - 1) > 0 && std::string(target).rfind("socket:", 0) == 0;
}

// Fills every free descriptor below kHighDescriptor, so the next one that
// the process opens lies at or above it; a low one can be handed back.
class DescriptorFill {
 public:
  bool fill() {
    if (getrlimit(RLIMIT_NOFILE, &saved_) != 0) return false;
    rlimit raised = saved_;
    if (raised.rlim_cur < 2 * kHighDescriptor) raised.rlim_cur = 2 * kHighDescriptor;
    if (raised.rlim_max < raised.rlim_cur) raised.rlim_max = raised.rlim_cur;
    if (setrlimit(RLIMIT_NOFILE, &raised) != 0) return false;
    restore_ = true;
    int base = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (base < 0) return false;
    held_.push_back(base);
    for (;;) {
      int fd = fcntl(base, F_DUPFD_CLOEXEC, 0);
      if (fd < 0) return false;
      if (fd >= kHighDescriptor) {
        close(fd);  // the next descriptor opened gets this number
        next_ = fd;
        return true;
      }
      held_.push_back(fd);
    }
  }
  int next() const { return next_; }
  void releaseLow() {
    close(held_.back());
    held_.pop_back();
  }
  ~DescriptorFill() {
    for (int fd : held_) close(fd);
    if (restore_) setrlimit(RLIMIT_NOFILE, &saved_);
  }

 private:
  std::vector<int> held_;
  rlimit saved_{};
  bool restore_ = false;
  int next_ = -1;
};

TEST(HighDescriptor, SessionAboveTheSelectLimitPairsPacesKeepAlivesAndDetectsLoss) {
  FakeDevice dev("127.0.130.3");
  ASSERT_TRUE(dev.listening());
  LoggedSession s;
  {
    DescriptorFill fds;
    if (!fds.fill()) GTEST_SKIP() << "cannot open descriptors above " << kHighDescriptor;
    s.pair("127.0.130.3");
    ASSERT_TRUE(IsSocket(fds.next())) << "the session's socket is not descriptor " << fds.next();
    fds.releaseLow();  // the device's end of the connection stays low
    ASSERT_TRUE(dev.accept());
  }
  ASSERT_TRUE(dev.acceptPairing()) << "no banner from the session";
  ASSERT_TRUE(s.log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_OK));

  // One keep-alive per pass of 40 ms, plus a pass for each keep-alive that
  // wakes the session early: about 55 in two seconds. A loop that does not
  // wait sends thousands.
  int keepAlives = 0;
  std::int64_t t0 = plat::monotonicUs();
  std::int64_t lastSent = 0;
  Frame f;
  while (SecondsSince(t0) < 2.0) {
    if (plat::monotonicUs() - lastSent >= 500000) {
      ASSERT_TRUE(dev.sendFrame(TDMSG_KEEPALIVE));
      lastSent = plat::monotonicUs();
    }
    if (dev.readFrame(f, 100, false) && f.type == TDMSG_KEEPALIVE) ++keepAlives;
  }
  EXPECT_GE(keepAlives, 20);
  EXPECT_LE(keepAlives, 150);

  // Silence from the device from the last keep-alive on: lost 7 to 8 s later.
  EXPECT_TRUE(dev.waitClosed(10000));
  double t = SecondsSince(lastSent);
  EXPECT_GE(t, 6.9);
  EXPECT_LE(t, 8.3);
  EXPECT_TRUE(s.log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE, 1000));
}

}  // namespace
