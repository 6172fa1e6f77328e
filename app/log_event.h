#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <climits>

// Levels of the Qt-only log back-end, ordered as log4j orders them.
enum class LogLevel : int {
    All = INT_MIN,
    Trace = 5000,
    Debug = 10000,
    Info = 20000,
    Warn = 30000,
    Error = 40000,
    Fatal = 50000,
    Off = INT_MAX,
};

// Parses a log4j level name (ALL, TRACE, DEBUG, INFO, WARN, ERROR, FATAL,
// OFF; any case, blanks around it ignored). false for anything else.
bool parseLogLevel(const QString &text, LogLevel *level);

// The name that %p prints: "DEBUG", "INFO", ...
QString logLevelName(LogLevel level);

// One message on its way to the appenders.
struct LogEvent
{
    LogLevel level = LogLevel::Debug;
    QString logger;  // "root" for the root logger
    QString message;
    QDateTime time;
    quintptr thread = 0;
    qint64 sinceStartMs = 0; // since the log system was set up
};
