// Desktop and primary-monitor size from X11 and RandR.
#include <gtest/gtest.h>
#include <stdlib.h>
// After gtest: Xlib defines macros (None, Bool) that clash with its names.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <string>

#include "platform/screen_metrics.h"
#include "test_x_server.h"

namespace {

const bool kServer = (plat_test::UsePrivateXServer(), true);

bool SameRect(const plat::ScreenRect& a, const plat::ScreenRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(ScreenMetricsTest, WholeScreenIsDesktopAndPrimary) {
  plat::ScreenMetrics m{};
  ASSERT_TRUE(plat::QueryScreenMetrics(&m));
  EXPECT_TRUE(SameRect(m.desktop, {0, 0, 1920, 1080}));
  EXPECT_TRUE(SameRect(m.primary, {0, 0, 1920, 1080}));
  EXPECT_GE(m.monitorCount, 1);
}

TEST(ScreenMetricsTest, PrimaryMonitorComesFromRandr) {
  Display* dpy = XOpenDisplay(nullptr);
  ASSERT_NE(dpy, nullptr);
  // A second monitor, marked primary, on the right half of the screen.
  XRRMonitorInfo mon{};
  mon.name = XInternAtom(dpy, "TANDEO-TEST", False);
  mon.primary = True;
  mon.x = 960;
  mon.y = 0;
  mon.width = 960;
  mon.height = 540;
  mon.mwidth = 254;
  mon.mheight = 143;
  XRRSetMonitor(dpy, DefaultRootWindow(dpy), &mon);
  XSync(dpy, False);

  plat::ScreenMetrics m{};
  ASSERT_TRUE(plat::QueryScreenMetrics(&m));
  EXPECT_TRUE(SameRect(m.desktop, {0, 0, 1920, 1080}));
  EXPECT_TRUE(SameRect(m.primary, {960, 0, 1920, 540}))
      << m.primary.left << " " << m.primary.top << " " << m.primary.right << " " << m.primary.bottom;
  EXPECT_GE(m.monitorCount, 2);

  XRRDeleteMonitor(dpy, DefaultRootWindow(dpy), mon.name);
  XSync(dpy, False);
  XCloseDisplay(dpy);
}

TEST(ScreenMetricsTest, NoDisplayLeavesTheResultAlone) {
  std::string saved = getenv("DISPLAY");
  unsetenv("DISPLAY");
  plat::ScreenMetrics m{};
  m.monitorCount = 42;
  EXPECT_FALSE(plat::QueryScreenMetrics(&m));
  EXPECT_EQ(m.monitorCount, 42);
  setenv("DISPLAY", saved.c_str(), 1);
}

}  // namespace
