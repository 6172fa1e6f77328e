// Size of the desktop and of its primary monitor.
#pragma once
#include "platform/screen_grab.h"

namespace plat {

struct ScreenMetrics {
  // The whole desktop (all monitors), origin 0, 0.
  ScreenRect desktop;
  // The primary monitor inside it; the whole desktop when the display
  // names no monitors.
  ScreenRect primary;
  int monitorCount;
};

// Reads the metrics from the display (its own short connection). False,
// with *out untouched, when no display can be reached.
bool QueryScreenMetrics(ScreenMetrics* out);

}  // namespace plat
