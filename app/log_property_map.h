#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// The key and value pairs of a log4j properties file, in key order, for the
// Qt-only log back-end. The text is read as Java properties files are:
// "#" and "!" comments, "=", ":" or blanks between key and value, a
// backslash at the end of a line continues it, and \t \n \r \f \uXXXX
// escapes; the bytes are taken as UTF-8.
class LogPropertyMap
{
public:
    void load(const QByteArray &text);

    QStringList keys() const { return values_.keys(); }
    QString value(const QString &key) const { return values_.value(key); }
    bool contains(const QString &key) const { return values_.contains(key); }
    void setValue(const QString &key, const QString &value) { values_.insert(key, value); }
    bool isEmpty() const { return values_.isEmpty(); }

private:
    QMap<QString, QString> values_;
};
