#include "app/qt_log_bridge.h"
#include "app/qt_message_route.h"

#include <QString>
#include <QtGlobal>

#include <log4cxx/level.h>
#include <log4cxx/logger.h>

#include <cstring>
#include <exception>

namespace {

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

} // namespace

// Static objects of log4cxx are destroyed at exit; the route is undone
// before, so that Qt messages written after that do not reach them.
void setHandleQtMessages(bool handle)
{
    routeQtMessages(toLog4cxx, handle);
}
