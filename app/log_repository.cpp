#include "app/log_repository.h"

#include "app/log_layout.h"
#include "app/log_sink.h"

#include <QDebug>
#include <QThread>

namespace {

const char kAppenderPrefix[] = "log4j.appender.";

// The last part of a class name: "org.apache.log4j.FileAppender" and
// "FileAppender" are the same.
QString shortClass(const QString &name)
{
    return name.trimmed().section(QLatin1Char('.'), -1);
}

// The options of appender `name` ("log4j.appender.dest.MaxFileSize" ->
// "maxfilesize"); option names are not case-sensitive.
QMap<QString, QString> optionsOf(const LogPropertyMap &properties, const QString &name)
{
    const QString prefix = QLatin1String(kAppenderPrefix) + name + QLatin1Char('.');
    QMap<QString, QString> options;
    const QStringList keys = properties.keys();
    for (const QString &key : keys) {
        if (key.startsWith(prefix))
            options.insert(key.mid(prefix.size()).toLower(), properties.value(key).trimmed());
    }
    return options;
}

// "5MB", "512KB", "1GB" or a number of bytes; fallback when unreadable.
qint64 fileSize(const QString &text, qint64 fallback)
{
    QString digits = text.trimmed().toUpper();
    qint64 unit = 1;
    if (digits.endsWith(QLatin1String("KB")))
        unit = 1024;
    else if (digits.endsWith(QLatin1String("MB")))
        unit = 1024 * 1024;
    else if (digits.endsWith(QLatin1String("GB")))
        unit = 1024 * 1024 * 1024;
    if (unit > 1)
        digits.chop(2);
    bool ok = false;
    const qint64 value = digits.trimmed().toLongLong(&ok);
    return ok && value >= 0 ? value * unit : fallback;
}

bool isTrue(const QString &text, bool fallback)
{
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    return fallback;
}

std::unique_ptr<LogPatternLayout> layoutOf(const QMap<QString, QString> &options)
{
    const QString kind = shortClass(options.value(QStringLiteral("layout")));
    if (kind == QLatin1String("SimpleLayout"))
        return std::make_unique<LogPatternLayout>(QStringLiteral("%p - %m%n"));
    if (kind == QLatin1String("TTCCLayout"))
        return std::make_unique<LogPatternLayout>(QStringLiteral("%r [%t] %p %c %x - %m%n"));
    return std::make_unique<LogPatternLayout>(
        options.value(QStringLiteral("layout.conversionpattern"), QStringLiteral("%m%n")));
}

std::shared_ptr<LogAppender> makeAppender(const LogPropertyMap &properties, const QString &name)
{
    const QString key = QLatin1String(kAppenderPrefix) + name;
    const QString kind = shortClass(properties.value(key));
    const QMap<QString, QString> options = optionsOf(properties, name);
    std::shared_ptr<LogAppender> appender;
    if (kind == QLatin1String("ConsoleAppender")) {
        const bool toStdErr =
            options.value(QStringLiteral("target")).compare(QLatin1String("System.err"), Qt::CaseInsensitive) == 0;
        appender = std::make_shared<LogConsoleAppender>(layoutOf(options), toStdErr);
    } else if (kind == QLatin1String("FileAppender") || kind == QLatin1String("RollingFileAppender")) {
        const QString path = options.value(QStringLiteral("file"));
        if (path.isEmpty()) {
            qWarning() << "LogRepository::configure" << __LINE__ << "no file for the appender" << name;
            return nullptr;
        }
        const bool append = isTrue(options.value(QStringLiteral("append")), true);
        std::shared_ptr<LogFileAppender> file;
        if (kind == QLatin1String("RollingFileAppender")) {
            const qint64 maxSize = fileSize(options.value(QStringLiteral("maxfilesize")), 10 * 1024 * 1024);
            bool ok = false;
            int backups = options.value(QStringLiteral("maxbackupindex")).toInt(&ok);
            if (!ok || backups < 0)
                backups = 1;
            file = std::make_shared<LogRollingFileAppender>(layoutOf(options), path, append, maxSize, backups);
        } else {
            file = std::make_shared<LogFileAppender>(layoutOf(options), path, append);
        }
        // The appender stays: the other appenders still log.
        const QString fault = file->open();
        if (!fault.isEmpty())
            qWarning() << "LogRepository::configure" << __LINE__ << "cannot open the log file" << path << fault;
        appender = file;
    } else {
        qWarning() << "LogRepository::configure" << __LINE__ << "unknown appender" << name
                   << properties.value(key);
        return nullptr;
    }
    LogLevel threshold;
    if (options.contains(QStringLiteral("threshold"))
        && parseLogLevel(options.value(QStringLiteral("threshold")), &threshold))
        appender->setThreshold(threshold);
    return appender;
}

} // namespace

LogRepository::LogRepository()
{
    sinceStart_.start();
}

LogRepository::~LogRepository() = default;

void LogRepository::configureBasic()
{
    auto console = std::make_shared<LogConsoleAppender>(
        std::make_unique<LogPatternLayout>(QStringLiteral("%r [%t] %p %c %x - %m%n")), false);
    QMutexLocker locker(&lock_);
    Logger &root = loggers_[QString()];
    root.appenders << console;
}

void LogRepository::configure(const LogPropertyMap &properties)
{
    // The new set-up is built without the lock (building logs its faults)
    // and takes effect at once; old appenders close when the copy goes.
    Loggers loggers;
    {
        QMutexLocker locker(&lock_);
        loggers = loggers_;
    }
    QMap<QString, std::shared_ptr<LogAppender>> appenders; // one object per name
    const auto setUp = [&](const QString &name, const QString &value) {
        Logger &logger = loggers[name];
        const QStringList fields = value.split(QLatin1Char(','));
        const QString level = fields.value(0).trimmed();
        LogLevel parsed;
        if (level.compare(QLatin1String("INHERITED"), Qt::CaseInsensitive) == 0
            || level.compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0) {
            logger.hasLevel = name.isEmpty(); // the root always has one
        } else if (parseLogLevel(level, &parsed)) {
            logger.level = parsed;
            logger.hasLevel = true;
        } else if (!level.isEmpty()) {
            qWarning() << "LogRepository::configure" << __LINE__ << "unknown level" << level;
        }
        logger.appenders.clear();
        for (int i = 1; i < fields.size(); ++i) {
            const QString appender = fields[i].trimmed();
            if (appender.isEmpty())
                continue;
            if (!appenders.contains(appender))
                appenders.insert(appender, makeAppender(properties, appender));
            if (appenders.value(appender))
                logger.appenders << appenders.value(appender);
        }
    };

    for (const char *rootKey : {"log4j.rootLogger", "log4j.rootCategory"}) {
        if (properties.contains(QLatin1String(rootKey))) {
            setUp(QString(), properties.value(QLatin1String(rootKey)));
            break;
        }
    }
    const QStringList keys = properties.keys();
    for (const QString &key : keys) {
        for (const char *prefix : {"log4j.logger.", "log4j.category."}) {
            if (key.startsWith(QLatin1String(prefix)) && key.size() > int(qstrlen(prefix)))
                setUp(key.mid(int(qstrlen(prefix))), properties.value(key));
        }
        const QLatin1String additivity("log4j.additivity.");
        if (key.startsWith(additivity) && key.size() > additivity.size())
            loggers[key.mid(additivity.size())].additive = isTrue(properties.value(key).trimmed(), true);
    }

    QMutexLocker locker(&lock_);
    loggers_.swap(loggers);
    locker.unlock();
}

void LogRepository::log(LogLevel level, const QString &logger, const QString &message)
{
    QMutexLocker locker(&lock_);
    // The nearest level and the appenders along the way, from the logger up.
    QString name = logger;
    bool levelFound = false;
    LogLevel threshold = LogLevel::Debug;
    QVector<LogAppender *> targets;
    bool collecting = true;
    for (;;) {
        const auto it = loggers_.constFind(name);
        if (it != loggers_.constEnd()) {
            if (!levelFound && it->hasLevel) {
                levelFound = true;
                threshold = it->level;
            }
            if (collecting) {
                for (const auto &appender : it->appenders)
                    targets << appender.get();
                collecting = it->additive;
            }
        }
        if (name.isEmpty())
            break;
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        name = dot < 0 ? QString() : name.left(dot);
    }
    if (level < threshold || targets.isEmpty())
        return;

    LogEvent event;
    event.level = level;
    event.logger = logger.isEmpty() ? QStringLiteral("root") : logger;
    event.message = message;
    event.time = QDateTime::currentDateTime();
    event.thread = quintptr(QThread::currentThreadId());
    event.sinceStartMs = sinceStart_.elapsed();
    for (LogAppender *appender : targets)
        appender->append(event);
}
