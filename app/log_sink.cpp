#include "app/log_sink.h"

#include <QDir>
#include <QFileInfo>

LogAppender::LogAppender(std::unique_ptr<LogPatternLayout> layout)
    : layout_(std::move(layout))
{
}

void LogAppender::append(const LogEvent &event)
{
    if (event.level < threshold_)
        return;
    write(layout_->format(event).toUtf8());
}

LogConsoleAppender::LogConsoleAppender(std::unique_ptr<LogPatternLayout> layout, bool toStdErr)
    : LogAppender(std::move(layout))
    , stream_(toStdErr ? stderr : stdout)
{
}

void LogConsoleAppender::write(const QByteArray &bytes)
{
    // A program without a console has no stream to write to; that is fine.
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream_);
    std::fflush(stream_);
}

LogFileAppender::LogFileAppender(std::unique_ptr<LogPatternLayout> layout, const QString &path,
                                 bool append)
    : LogAppender(std::move(layout))
    , file_(path)
    , append_(append)
{
}

QString LogFileAppender::open()
{
    const QString folder = QFileInfo(file_.fileName()).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot create the folder ") + folder;
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | (append_ ? QIODevice::Append : QIODevice::Truncate);
    if (!file_.open(mode))
        return file_.errorString();
    return QString();
}

void LogFileAppender::write(const QByteArray &bytes)
{
    if (!file_.isOpen())
        return;
    file_.write(bytes);
    file_.flush();
}

LogRollingFileAppender::LogRollingFileAppender(std::unique_ptr<LogPatternLayout> layout,
                                               const QString &path, bool append, qint64 maxSize,
                                               int maxBackups)
    : LogFileAppender(std::move(layout), path, append)
    , maxSize_(maxSize)
    , maxBackups_(maxBackups)
{
}

void LogRollingFileAppender::write(const QByteArray &bytes)
{
    if (file_.isOpen() && file_.size() >= maxSize_)
        rollOver();
    LogFileAppender::write(bytes);
}

void LogRollingFileAppender::rollOver()
{
    const QString path = file_.fileName();
    file_.close(); // an open file cannot be renamed on Windows
    bool moved = maxBackups_ <= 0;
    if (maxBackups_ > 0) {
        QFile::remove(path + QLatin1Char('.') + QString::number(maxBackups_));
        for (int i = maxBackups_ - 1; i >= 1; --i) {
            const QString from = path + QLatin1Char('.') + QString::number(i);
            if (QFile::exists(from))
                QFile::rename(from, path + QLatin1Char('.') + QString::number(i + 1));
        }
        moved = QFile::rename(path, path + QStringLiteral(".1"));
    }
    // When the file could not be moved aside it is written on, not lost.
    file_.open(QIODevice::WriteOnly | (moved ? QIODevice::Truncate : QIODevice::Append));
}
