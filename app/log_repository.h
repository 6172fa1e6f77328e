#pragma once

#include "app/log_event.h"
#include "app/log_property_map.h"

#include <QElapsedTimer>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QVector>

#include <memory>

class LogAppender;

// The loggers of the Qt-only back-end: a level and appenders per logger
// name, configured from log4j properties. A logger without a level of its
// own takes that of its nearest parent ("qt" for "qt.tandeo.probe"), then the
// root's; an event goes to the appenders of its logger and of every parent
// up to the root, unless log4j.additivity.NAME=false stops it on the way.
// Thread-safe: one lock around finding, formatting and writing.
class LogRepository
{
public:
    LogRepository();
    ~LogRepository();

    // log4j's basic configuration: the root logger at DEBUG writing to
    // standard output.
    void configureBasic();

    // Applies log4j.rootLogger, log4j.logger.NAME, log4j.additivity.NAME and
    // the log4j.appender.NAME definitions they use, on top of what was
    // configured before. Faults are reported with qWarning() and skipped.
    void configure(const LogPropertyMap &properties);

    // logger: the logger's name; empty for the root logger.
    void log(LogLevel level, const QString &logger, const QString &message);

private:
    struct Logger
    {
        bool hasLevel = false;
        LogLevel level = LogLevel::Debug;
        bool additive = true;
        QVector<std::shared_ptr<LogAppender>> appenders;
    };
    using Loggers = QMap<QString, Logger>; // "" is the root

    QMutex lock_;
    Loggers loggers_;
    QElapsedTimer sinceStart_;
};
