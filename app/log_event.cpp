#include "app/log_event.h"

namespace {

struct LevelName
{
    LogLevel level;
    const char *name;
};

const LevelName kLevels[] = {
    {LogLevel::All, "ALL"},     {LogLevel::Trace, "TRACE"}, {LogLevel::Debug, "DEBUG"},
    {LogLevel::Info, "INFO"},   {LogLevel::Warn, "WARN"},   {LogLevel::Error, "ERROR"},
    {LogLevel::Fatal, "FATAL"}, {LogLevel::Off, "OFF"},
};

} // namespace

bool parseLogLevel(const QString &text, LogLevel *level)
{
    const QString name = text.trimmed();
    for (const LevelName &l : kLevels) {
        if (name.compare(QLatin1String(l.name), Qt::CaseInsensitive) == 0) {
            *level = l.level;
            return true;
        }
    }
    return false;
}

QString logLevelName(LogLevel level)
{
    for (const LevelName &l : kLevels) {
        if (l.level == level)
            return QLatin1String(l.name);
    }
    return QStringLiteral("?");
}
