#pragma once

#include "app/log_event.h"
#include "app/log_layout.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <memory>

// Where the Qt-only back-end writes: log4j's console, file and rolling file
// appenders. Each formats an event with its layout and writes it at once,
// as UTF-8; events below its threshold are dropped. The caller serialises
// calls (the log repository's lock).
class LogAppender
{
public:
    explicit LogAppender(std::unique_ptr<LogPatternLayout> layout);
    virtual ~LogAppender() = default;

    void setThreshold(LogLevel level) { threshold_ = level; }
    void append(const LogEvent &event);

protected:
    virtual void write(const QByteArray &bytes) = 0;

private:
    std::unique_ptr<LogPatternLayout> layout_;
    LogLevel threshold_ = LogLevel::All;
};

// System.out or System.err.
class LogConsoleAppender : public LogAppender
{
public:
    LogConsoleAppender(std::unique_ptr<LogPatternLayout> layout, bool toStdErr);

protected:
    void write(const QByteArray &bytes) override;

private:
    std::FILE *stream_;
};

// A file, with its missing folders made; appended to or started anew. A
// file that cannot be opened writes nothing, and open() says why.
class LogFileAppender : public LogAppender
{
public:
    LogFileAppender(std::unique_ptr<LogPatternLayout> layout, const QString &path, bool append);

    // Opens the file; an empty string on success, the reason otherwise.
    QString open();

protected:
    void write(const QByteArray &bytes) override;
    QFile file_;

private:
    bool append_;
};

// A file that is rolled over once it has reached maxSize bytes, before the
// next line: app.log becomes app.log.1, app.log.1 becomes app.log.2 and so
// on up to maxBackups files, the oldest dropped. With no backups the file
// starts anew.
class LogRollingFileAppender : public LogFileAppender
{
public:
    LogRollingFileAppender(std::unique_ptr<LogPatternLayout> layout, const QString &path, bool append,
                           qint64 maxSize, int maxBackups);

protected:
    void write(const QByteArray &bytes) override;

private:
    void rollOver();

    qint64 maxSize_;
    int maxBackups_;
};
