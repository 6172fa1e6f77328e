#include "app/screen_metrics.h"

#include "platform/screen_metrics.h"

#include <QDebug>

DesktopMetrics primaryDesktopMetrics()
{
    DesktopMetrics m;
    plat::ScreenMetrics screens;
    if (!plat::QueryScreenMetrics(&screens)) {
        qWarning() << "primaryDesktopMetrics" << __LINE__ << "no display found";
        return m;
    }
    const plat::ScreenRect &p = screens.primary;
    m.width = p.right - p.left;
    m.height = p.bottom - p.top;
    m.desktop = {p.left, p.top, p.right, p.bottom};
    return m;
}
