#pragma once

#include "tdsdk.h"

#include <QList>
#include <QString>

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

// One monitor the user can share: its name, its rectangle on the desktop
// (right and bottom exclusive), whether it is the primary one.
struct ScreenArea
{
    QString name;
    TDS_RECT area = {0, 0, 0, 0};
    bool primary = false;
};

// The monitors of the display, in its order, read anew at each call;
// empty without a display (quietly: it is asked for again and again).
QList<ScreenArea> desktopScreens();

bool operator==(const ScreenArea &a, const ScreenArea &b);
inline bool operator!=(const ScreenArea &a, const ScreenArea &b) { return !(a == b); }
