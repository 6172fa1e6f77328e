#pragma once

#include "tdsdk.h"

// What the manager hands the session at start-up: the primary screen's size
// in pixels and its rectangle on the desktop, which the capture covers
// (right and bottom exclusive).
struct DesktopMetrics
{
    int width = 0;
    int height = 0;
    TDS_RECT desktop = {0, 0, 0, 0};
};

// The primary screen as the display reports it. With no display every value
// is 0, which leaves the capture area empty.
DesktopMetrics primaryDesktopMetrics();
