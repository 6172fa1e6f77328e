// The log system of builds without log4cxx (Windows): the properties file
// read into our own map, and Qt's message streams routed into the Qt-only
// log repository.
#include "app/log_properties.h"
#include "app/log_repository.h"
#include "app/qt_log_bridge.h"
#include "app/qt_message_route.h"

#include <QtGlobal>

#include <cstdio>
#include <cstring>

namespace {

// Never destroyed: Qt messages written by static destructors at exit still
// find it.
LogRepository &repository()
{
    static LogRepository *const repo = new LogRepository;
    return *repo;
}

LogLevel levelOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return LogLevel::Debug;
    case QtInfoMsg:
        return LogLevel::Info;
    case QtWarningMsg:
        return LogLevel::Warn;
    case QtCriticalMsg:
        return LogLevel::Error;
    case QtFatalMsg:
        break;
    }
    return LogLevel::Fatal;
}

void toRepository(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // A message raised while one is being written (a file error reported by
    // Qt, say) would wait for the lock its own thread holds: it goes to
    // standard error instead.
    static thread_local bool writing = false;
    if (writing) {
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
        return;
    }
    writing = true;
    const bool named = context.category && std::strcmp(context.category, "default") != 0;
    repository().log(levelOf(type), named ? QString::fromUtf8(context.category) : QString(), message);
    writing = false;
}

} // namespace

void setHandleQtMessages(bool handle)
{
    routeQtMessages(toRepository, handle);
}

void configureLogSystem(const QString &propertiesPath)
{
    repository().configureBasic();
    LogProperties properties;
    loadLogProperties(propertiesPath, properties);
    repository().configure(properties);
    setHandleQtMessages(true);
}

bool readLogProperties(const QByteArray &text, LogProperties &properties, QString *)
{
    properties.load(text);
    return true;
}

QStringList logPropertyKeys(const LogProperties &properties)
{
    return properties.keys();
}

QString logProperty(const LogProperties &properties, const QString &key)
{
    return properties.value(key);
}

void setLogProperty(LogProperties &properties, const QString &key, const QString &value)
{
    properties.setValue(key, value);
}
