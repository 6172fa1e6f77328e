#include "app/qt_message_route.h"

#include <QMutex>

#include <cstdlib>

namespace {

QMutex g_lock;
bool g_routed = false;
QtMessageHandler g_previous = nullptr;

void restoreAtExit()
{
    routeQtMessages(nullptr, false);
}

} // namespace

void routeQtMessages(QtMessageHandler handler, bool on)
{
    static bool exitHookSet = false;
    QMutexLocker locker(&g_lock);
    if (on == g_routed)
        return;
    if (on) {
        g_previous = qInstallMessageHandler(handler);
        if (!exitHookSet) {
            exitHookSet = true;
            std::atexit(restoreAtExit);
        }
    } else {
        qInstallMessageHandler(g_previous);
        g_previous = nullptr;
    }
    g_routed = on;
}
