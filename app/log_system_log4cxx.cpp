// The log system on log4cxx: its properties, its configurators, and Qt's
// message streams routed into it (qt_log_bridge.cpp).
#include "app/log_properties.h"
#include "app/qt_log_bridge.h"

#include <QDebug>

#include <log4cxx/basicconfigurator.h>
#include <log4cxx/helpers/bytearrayinputstream.h>
#include <log4cxx/helpers/properties.h>
#include <log4cxx/propertyconfigurator.h>

#include <exception>
#include <vector>

namespace {

// log4cxx 1.0's RollingFileAppender writes to the file that "file" names but
// names its rolled files after "File" only: with "file" alone every rollover
// fails and the log grows without end. Each appender's "file" is therefore
// also given as "File", unless the properties set that themselves.
void spellFileOptionForLog4cxx(log4cxx::helpers::Properties &properties)
{
    const QLatin1String prefix("log4j.appender.");
    const QLatin1String lower(".file");
    const QStringList keys = logPropertyKeys(properties);
    for (const QString &key : keys) {
        if (!key.startsWith(prefix) || !key.endsWith(lower) || key.count(QLatin1Char('.')) != 3)
            continue;
        const QString upper = key.left(key.size() - 4) + QStringLiteral("File");
        if (!keys.contains(upper))
            setLogProperty(properties, upper, logProperty(properties, key));
    }
}

} // namespace

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
    spellFileOptionForLog4cxx(properties);
    try {
        log4cxx::PropertyConfigurator::configure(properties);
    } catch (const std::exception &e) {
        qWarning() << "configureLogSystem" << __LINE__ << "log configuration failed" << e.what();
    }
    setHandleQtMessages(true);
}

bool readLogProperties(const QByteArray &text, LogProperties &properties, QString *error)
{
    try {
        std::vector<unsigned char> bytes(text.cbegin(), text.cend());
        properties.load(std::make_shared<log4cxx::helpers::ByteArrayInputStream>(bytes));
    } catch (const std::exception &e) {
        *error = QString::fromLocal8Bit(e.what());
        return false;
    }
    return true;
}

QStringList logPropertyKeys(const LogProperties &properties)
{
    QStringList keys;
    for (const log4cxx::LogString &key : properties.propertyNames())
        keys << QString::fromStdString(key);
    return keys;
}

QString logProperty(const LogProperties &properties, const QString &key)
{
    return QString::fromStdString(properties.getProperty(key.toStdString()));
}

void setLogProperty(LogProperties &properties, const QString &key, const QString &value)
{
    properties.setProperty(key.toStdString(), value.toStdString());
}
