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
