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

QList<ScreenArea> desktopScreens()
{
    QList<ScreenArea> list;
    plat::ScreenMetrics screens;
    if (!plat::QueryScreenMetrics(&screens))
        return list;
    for (const plat::MonitorArea &m : screens.monitors) {
        ScreenArea a;
        a.name = QString::fromStdString(m.name);
        a.area = {m.rect.left, m.rect.top, m.rect.right, m.rect.bottom};
        a.primary = m.primary;
        list << a;
    }
    return list;
}

bool operator==(const ScreenArea &a, const ScreenArea &b)
{
    return a.name == b.name && a.primary == b.primary && a.area.left == b.area.left && a.area.top == b.area.top &&
           a.area.right == b.area.right && a.area.bottom == b.area.bottom;
}
