#include "app/log_property_map.h"

#include <QVector>

namespace {

// Logical lines: natural lines joined where one ends in an odd number of
// backslashes; the blanks that start a continuation line are dropped.
QStringList logicalLines(const QString &text)
{
    QStringList lines;
    QString current;
    bool continuing = false;
    QString unified = text;
    unified.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QVector<QStringRef> natural = unified.splitRef(QLatin1Char('\n'));
    for (const QStringRef &raw : natural) {
        QStringRef line = raw;
        if (continuing) {
            int i = 0;
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\f'))
                ++i;
            line = line.mid(i);
        } else {
            const QStringRef trimmed = line.trimmed();
            if (trimmed.isEmpty() || trimmed.startsWith('#') || trimmed.startsWith('!'))
                continue;
        }
        int slashes = 0;
        while (slashes < line.size() && line[line.size() - 1 - slashes] == '\\')
            ++slashes;
        continuing = slashes % 2 == 1;
        current += continuing ? line.left(line.size() - 1) : line;
        if (!continuing) {
            lines << current;
            current.clear();
        }
    }
    if (continuing)
        lines << current;
    return lines;
}

QString unescape(const QStringRef &text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar e = text[++i];
        switch (e.unicode()) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 'f': out += '\f'; break;
        case 'u': {
            bool ok = false;
            const ushort code = text.mid(i + 1, 4).toUShort(&ok, 16);
            if (ok && i + 4 < text.size()) {
                out += QChar(code);
                i += 4;
            } else {
                out += e;
            }
            break;
        }
        default: out += e; break;
        }
    }
    return out;
}

bool isBlank(QChar c)
{
    return c == ' ' || c == '\t' || c == '\f';
}

} // namespace

void LogPropertyMap::load(const QByteArray &text)
{
    const QStringList lines = logicalLines(QString::fromUtf8(text));
    for (const QString &line : lines) {
        int i = 0;
        while (i < line.size() && isBlank(line[i]))
            ++i;
        const int keyStart = i;
        for (; i < line.size(); ++i) {
            const QChar c = line[i];
            if (c == '\\') {
                ++i; // an escaped character belongs to the key
                continue;
            }
            if (c == '=' || c == ':' || isBlank(c))
                break;
        }
        const int keyEnd = qMin(i, line.size());
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i < line.size() && (line[i] == '=' || line[i] == ':'))
            ++i;
        while (i < line.size() && isBlank(line[i]))
            ++i;
        values_.insert(unescape(line.midRef(keyStart, keyEnd - keyStart)),
                       unescape(line.midRef(i)));
    }
}
