#include "app/screen_metrics.h"

#include <QDebug>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>

DesktopMetrics primaryDesktopMetrics()
{
    DesktopMetrics m;
    // The list of screens is static: without a QGuiApplication it is empty
    // and primaryScreen() gives null.
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        qWarning() << "primaryDesktopMetrics" << __LINE__ << "no screen found";
        return m;
    }
    // Device pixels: on a scaled display the logical geometry is smaller
    // than what the capture grabs.
    const QRect g = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    m.width = qRound(g.width() * ratio);
    m.height = qRound(g.height() * ratio);
    m.desktop = {0, 0, m.width, m.height};
    return m;
}
