#pragma once

#include "tdsdk.h"

// What the manager hands the session at start-up: the primary screen's size
// in pixels and the desktop rectangle that the capture covers (origin 0, 0,
// right and bottom exclusive).
struct DesktopMetrics
{
    int width = 0;
    int height = 0;
    TDS_RECT desktop = {0, 0, 0, 0};
};

// The primary screen as the running application sees it. With no screen
// (no GUI application object, or no display) every value is 0, which leaves
// the capture area empty.
DesktopMetrics primaryDesktopMetrics();
