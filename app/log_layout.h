#pragma once

#include "app/log_event.h"

#include <QString>
#include <QVector>

// log4j's PatternLayout: %d (with {ISO8601}, {ABSOLUTE}, {DATE} or a date
// pattern of y M d H h m s S E a Z), %t (the thread, as 0x and its id in
// hexadecimal), %p, %c (with {N}, the last N parts of the name), %m, %n,
// %r (milliseconds since set-up), %x (no context: "null"), %F %L %M %l
// (no location: "?") and %%, each with an optional width as in %-5p or %.10c.
class LogPatternLayout
{
public:
    explicit LogPatternLayout(const QString &pattern);

    QString format(const LogEvent &event) const;

private:
    struct Part
    {
        QChar conversion; // 0 for literal text
        QString text;     // the literal, or the option in {...}
        int minWidth = 0;
        int maxWidth = -1;
        bool leftAlign = false;
    };
    QVector<Part> parts_;
};

// The time as a date pattern of log4j (Java's SimpleDateFormat letters)
// writes it, with English month and day names.
QString formatLogTime(const QString &pattern, const QDateTime &time);
