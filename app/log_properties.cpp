#include "app/log_properties.h"

#include "app/env_lookup.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

namespace {

const char kDestFileKey[] = "log4j.appender.dest.file";

} // namespace

QString expandEnvironmentReferences(const QString &value)
{
    const QLatin1String open("${");
    QString result;
    int copied = 0; // value[0, copied) has been handled
    int from = 0;
    int start;
    while ((start = value.indexOf(open, from)) >= 0) {
        from = start + open.size();
        if (start < copied)
            continue; // inside a reference already replaced
        const int end = value.indexOf(QLatin1Char('}'), from);
        if (end < 0)
            continue;
        QString replacement = environmentValue(value.mid(from, end - from));
        if (replacement.isEmpty())
            continue;
        replacement.replace(QLatin1Char('\\'), QLatin1Char('/'));
        result += value.midRef(copied, start - copied);
        result += replacement;
        copied = end + 1;
    }
    result += value.midRef(copied);
    return result;
}

void loadLogProperties(const QString &path, LogProperties &properties)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "loadLogProperties" << __LINE__ << "Failed to open log conf file" << path;
        return;
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        qDebug() << "loadLogProperties" << __LINE__ << "Failed to load log conf file" << path
                 << file.errorString();
        return;
    }
    QString fault;
    if (!readLogProperties(text, properties, &fault)) {
        qDebug() << "loadLogProperties" << __LINE__ << "Failed to load log conf file" << path
                 << qUtf8Printable(fault);
        return;
    }

    const QStringList keys = logPropertyKeys(properties);
    for (const QString &key : keys) {
        QString value = logProperty(properties, key);
        qInfo() << "loadLogProperties" << __LINE__ << "Key: " << key << ", Value: " << value;

        value = expandEnvironmentReferences(value);
        if (key == QLatin1String(kDestFileKey))
            value += QLatin1Char('/') + QCoreApplication::applicationName()
                     + QStringLiteral("/app.log");
        setLogProperty(properties, key, value);
        qDebug() << "loadLogProperties" << __LINE__ << "Key1: " << key << ", Value1: " << value;
    }
}
