#include "app/log_properties.h"

#include "app/env_lookup.h"
#include "app/qt_log_bridge.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

#include <log4cxx/basicconfigurator.h>
#include <log4cxx/helpers/bytearrayinputstream.h>
#include <log4cxx/helpers/properties.h>
#include <log4cxx/propertyconfigurator.h>

#include <exception>
#include <vector>

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

void loadLogProperties(const QString &path, log4cxx::helpers::Properties &properties)
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
    try {
        std::vector<unsigned char> bytes(text.cbegin(), text.cend());
        properties.load(std::make_shared<log4cxx::helpers::ByteArrayInputStream>(bytes));
    } catch (const std::exception &e) {
        qDebug() << "loadLogProperties" << __LINE__ << "Failed to load log conf file" << path
                 << e.what();
        return;
    }

    const std::vector<log4cxx::LogString> keys = properties.propertyNames();
    for (const log4cxx::LogString &rawKey : keys) {
        const QString key = QString::fromStdString(rawKey);
        QString value = QString::fromStdString(properties.getProperty(rawKey));
        qInfo() << "loadLogProperties" << __LINE__ << "Key: " << key << ", Value: " << value;

        value = expandEnvironmentReferences(value);
        if (key == QLatin1String(kDestFileKey))
            value += QLatin1Char('/') + QCoreApplication::applicationName()
                     + QStringLiteral("/app.log");
        properties.setProperty(rawKey, value.toStdString());
        qDebug() << "loadLogProperties" << __LINE__ << "Key1: " << key << ", Value1: " << value;
    }
}

void configureLogSystem(const QString &propertiesPath)
{
    // log4cxx reports bad configurations by exception; the program goes on
    // with whatever part of the configuration took effect.
    try {
        log4cxx::BasicConfigurator::configure();
    } catch (const std::exception &e) {
        qWarning() << "configureLogSystem" << __LINE__ << "basic configuration failed" << e.what();
    }
    log4cxx::helpers::Properties properties;
    loadLogProperties(propertiesPath, properties);
    try {
        log4cxx::PropertyConfigurator::configure(properties);
    } catch (const std::exception &e) {
        qWarning() << "configureLogSystem" << __LINE__ << "log configuration failed" << e.what();
    }
    setHandleQtMessages(true);
}
