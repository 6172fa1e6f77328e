#include "platform/timer.h"

#include <gtest/gtest.h>

#include "platform/clock.h"

TEST(PeriodicTimer, SetsTheEventOncePerPeriodAndStopsCleanly) {
  plat::AutoResetEvent ev;
  plat::PeriodicTimer timer;
  ASSERT_TRUE(timer.start(20, &ev));
  std::int64_t t0 = plat::monotonicUs();
  int ticks = 0;
  for (; ticks < 10; ++ticks) ASSERT_TRUE(ev.wait(1000)) << "tick " << ticks;
  double perTick = (plat::monotonicUs() - t0) / 1000.0 / ticks;
  // Loose bounds: a loaded machine stretches periods, it never shortens them.
  EXPECT_GE(perTick, 15.0);
  EXPECT_LE(perTick, 200.0);
  timer.stop();
  ev.wait(0);  // a tick may have landed just before the stop
  EXPECT_FALSE(ev.wait(100));
  EXPECT_FALSE(timer.running());
  // Restart after stop works; stop twice is harmless.
  ASSERT_TRUE(timer.start(5, &ev));
  EXPECT_TRUE(ev.wait(1000));
  timer.stop();
  timer.stop();
}

TEST(AutoResetEvent, ReleasesOneWaitPerSet) {
  plat::AutoResetEvent ev;
  EXPECT_FALSE(ev.wait(0));
  ev.set();
  ev.set();  // folds into the first
  EXPECT_TRUE(ev.wait(0));
  EXPECT_FALSE(ev.wait(10));
}
