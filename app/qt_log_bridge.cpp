#include "app/qt_log_bridge.h"

#include <QMutex>
#include <QString>
#include <QtGlobal>

#include <log4cxx/level.h>
#include <log4cxx/logger.h>

#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

QMutex g_lock;
bool g_handling = false;
QtMessageHandler g_previous = nullptr;

log4cxx::LevelPtr levelOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return log4cxx::Level::getDebug();
    case QtInfoMsg:
        return log4cxx::Level::getInfo();
    case QtWarningMsg:
        return log4cxx::Level::getWarn();
    case QtCriticalMsg:
        return log4cxx::Level::getError();
    case QtFatalMsg:
        break;
    }
    return log4cxx::Level::getFatal();
}

void toLog4cxx(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    try {
        const bool named = context.category && std::strcmp(context.category, "default") != 0;
        const log4cxx::LoggerPtr logger =
            named ? log4cxx::Logger::getLogger(context.category) : log4cxx::Logger::getRootLogger();
        const log4cxx::LevelPtr level = levelOf(type);
        // LogString is UTF-8 here, so the text goes in without a locale
        // round trip that would lose the Chinese texts.
        if (logger->isEnabledFor(level))
            logger->forcedLogLS(level, message.toStdString(),
                                log4cxx::spi::LocationInfo::getLocationUnavailable());
    } catch (const std::exception &) {
        // A logging failure must never take the program down.
    }
}

// Static objects of log4cxx are destroyed at exit; Qt messages written after
// that (by other static destructors) must not reach them.
void restoreAtExit()
{
    setHandleQtMessages(false);
}

} // namespace

void setHandleQtMessages(bool handle)
{
    static bool exitHookSet = false;
    QMutexLocker locker(&g_lock);
    if (handle == g_handling)
        return;
    if (handle) {
        g_previous = qInstallMessageHandler(toLog4cxx);
        if (!exitHookSet) {
            exitHookSet = true;
            std::atexit(restoreAtExit);
        }
    } else {
        qInstallMessageHandler(g_previous);
        g_previous = nullptr;
    }
    g_handling = handle;
}
