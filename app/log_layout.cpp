#include "app/log_layout.h"

namespace {

const char *const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char *const kDays[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

QString padded(int value, int width)
{
    return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

QString name(const char *full, int count)
{
    const QString text = QLatin1String(full);
    return count >= 4 ? text : text.left(3);
}

QString field(QChar letter, int count, const QDateTime &time)
{
    const QDate date = time.date();
    const QTime clock = time.time();
    switch (letter.unicode()) {
    case 'y':
        return count == 2 ? padded(date.year() % 100, 2) : padded(date.year(), count);
    case 'M':
        return count >= 3 ? name(kMonths[date.month() - 1], count) : padded(date.month(), count);
    case 'd':
        return padded(date.day(), count);
    case 'E':
        return name(kDays[date.dayOfWeek() - 1], count);
    case 'H':
        return padded(clock.hour(), count);
    case 'k':
        return padded(clock.hour() == 0 ? 24 : clock.hour(), count);
    case 'K':
        return padded(clock.hour() % 12, count);
    case 'h':
        return padded(clock.hour() % 12 == 0 ? 12 : clock.hour() % 12, count);
    case 'm':
        return padded(clock.minute(), count);
    case 's':
        return padded(clock.second(), count);
    case 'S':
        return padded(clock.msec(), count);
    case 'a':
        return clock.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM");
    case 'Z': {
        const int offset = time.offsetFromUtc() / 60;
        return (offset < 0 ? QStringLiteral("-") : QStringLiteral("+")) + padded(qAbs(offset) / 60, 2)
               + padded(qAbs(offset) % 60, 2);
    }
    case 'z':
        return time.timeZoneAbbreviation();
    default:
        return QString(count, letter);
    }
}

// Reads a number at pattern[i], moving i past it; 0 when there is none.
int number(const QString &pattern, int &i)
{
    int value = 0;
    while (i < pattern.size() && pattern[i].isDigit())
        value = value * 10 + pattern[i++].digitValue();
    return value;
}

QString lastParts(const QString &name, const QString &option)
{
    bool ok = false;
    const int count = option.toInt(&ok);
    if (!ok || count <= 0)
        return name;
    int at = name.size();
    for (int n = 0; n < count && at > 0; ++n)
        at = name.lastIndexOf(QLatin1Char('.'), at - 1);
    return at <= 0 ? name : name.mid(at + 1);
}

QString threadName(quintptr thread)
{
    return QStringLiteral("0x") + QString::number(thread, 16);
}

} // namespace

QString formatLogTime(const QString &pattern, const QDateTime &time)
{
    QString out;
    for (int i = 0; i < pattern.size();) {
        const QChar c = pattern[i];
        if (c == QLatin1Char('\'')) {
            const int end = pattern.indexOf(QLatin1Char('\''), i + 1);
            if (end == i + 1)
                out += c; // '' is a quote
            else
                out += pattern.midRef(i + 1, (end < 0 ? pattern.size() : end) - i - 1);
            i = end < 0 ? pattern.size() : end + 1;
            continue;
        }
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
            out += c;
            ++i;
            continue;
        }
        int count = 1;
        while (i + count < pattern.size() && pattern[i + count] == c)
            ++count;
        out += field(c, count, time);
        i += count;
    }
    return out;
}

LogPatternLayout::LogPatternLayout(const QString &pattern)
{
    QString literal;
    for (int i = 0; i < pattern.size();) {
        const QChar c = pattern[i++];
        if (c != QLatin1Char('%') || i == pattern.size()) {
            literal += c;
            continue;
        }
        if (pattern[i] == QLatin1Char('%')) {
            literal += c;
            ++i;
            continue;
        }
        Part part;
        const int start = i - 1;
        if (pattern[i] == QLatin1Char('-')) {
            part.leftAlign = true;
            ++i;
        }
        part.minWidth = number(pattern, i);
        if (i < pattern.size() && pattern[i] == QLatin1Char('.')) {
            ++i;
            part.maxWidth = number(pattern, i);
        }
        if (i == pattern.size() || !QByteArray("dtpcmnrxFLMlC").contains(char(pattern[i].unicode()))) {
            literal += pattern.midRef(start, i - start); // not a conversion: kept as written
            continue;
        }
        part.conversion = pattern[i++];
        if (i < pattern.size() && pattern[i] == QLatin1Char('{')) {
            const int end = pattern.indexOf(QLatin1Char('}'), i);
            if (end > 0) {
                part.text = pattern.mid(i + 1, end - i - 1);
                i = end + 1;
            }
        }
        if (!literal.isEmpty()) {
            Part text;
            text.text = literal;
            parts_ << text;
            literal.clear();
        }
        if (part.conversion == QLatin1Char('d')) {
            if (part.text.isEmpty() || part.text == QLatin1String("ISO8601"))
                part.text = QStringLiteral("yyyy-MM-dd HH:mm:ss,SSS");
            else if (part.text == QLatin1String("ABSOLUTE"))
                part.text = QStringLiteral("HH:mm:ss,SSS");
            else if (part.text == QLatin1String("DATE"))
                part.text = QStringLiteral("dd MMM yyyy HH:mm:ss,SSS");
        }
        parts_ << part;
    }
    if (!literal.isEmpty()) {
        Part text;
        text.text = literal;
        parts_ << text;
    }
}

QString LogPatternLayout::format(const LogEvent &event) const
{
    QString out;
    for (const Part &part : parts_) {
        QString value;
        switch (part.conversion.unicode()) {
        case 0: out += part.text; continue;
        case 'n': out += QLatin1Char('\n'); continue;
        case 'd': value = formatLogTime(part.text, event.time); break;
        case 't': value = threadName(event.thread); break;
        case 'p': value = logLevelName(event.level); break;
        case 'c': value = lastParts(event.logger, part.text); break;
        case 'm': value = event.message; break;
        case 'r': value = QString::number(event.sinceStartMs); break;
        case 'x': value = QStringLiteral("null"); break;
        default: value = QStringLiteral("?"); break; // no location information
        }
        if (part.maxWidth >= 0 && value.size() > part.maxWidth)
            value = value.right(part.maxWidth);
        if (value.size() < part.minWidth) {
            const QString pad(part.minWidth - value.size(), QLatin1Char(' '));
            value = part.leftAlign ? value + pad : pad + value;
        }
        out += value;
    }
    return out;
}
