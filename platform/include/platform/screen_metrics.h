// Size of the desktop and of its primary monitor.
#pragma once
#include <string>
#include <vector>

#include "platform/screen_grab.h"

namespace plat {

// One monitor of the desktop, as the display names it.
struct MonitorArea {
  std::string name;
  ScreenRect rect;
  bool primary = false;
};

struct ScreenMetrics {
  // The whole desktop (all monitors), origin 0, 0. On Windows the virtual
  // screen, which starts left of or above 0, 0 when a monitor lies there
  // (the primary monitor is always at 0, 0).
  ScreenRect desktop;
  // The primary monitor inside it; the whole desktop when the display
  // names no monitors.
  ScreenRect primary;
  int monitorCount;
  // Every monitor in the display's order; empty when it names none.
  std::vector<MonitorArea> monitors;
};

// Reads the metrics from the display (its own short connection). False,
// with *out untouched, when no display can be reached.
bool QueryScreenMetrics(ScreenMetrics* out);

}  // namespace plat
