#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The properties the log back-end is configured from: log4cxx's own where
// the program logs through log4cxx, our own ordered map where it logs
// through the Qt-only back-end (TANDEO_LOG_QT, the Windows build).
#ifdef TANDEO_LOG_QT
#include "app/log_property_map.h"
using LogProperties = LogPropertyMap;
#else
#include <log4cxx/helpers/properties.h>
using LogProperties = log4cxx::helpers::Properties;
#endif

// Fills properties from the properties file at path, expands ${VAR}
// references in every value from the environment, and appends
// "/<application name>/app.log" to the value of "log4j.appender.dest.file",
// so the file appender "dest" writes into a folder named after the program.
// A missing or unreadable file leaves properties empty (logged at debug level).
void loadLogProperties(const QString &path, LogProperties &properties);

// Replaces each ${NAME} in value whose variable is set and not empty by the
// variable's value with backslashes turned into "/"; unset or empty variables
// and a "${" without "}" stay as they are. Inserted text is never scanned again.
QString expandEnvironmentReferences(const QString &value);

// Start-up's logging set-up: a basic console configuration first, then the
// properties file at path on top of it, then Qt's message streams
// (qDebug(), qInfo(), ...) are routed into the log back-end.
void configureLogSystem(const QString &propertiesPath);

// What each back-end provides for the loader: parsing the file's bytes
// (false with the reason when they are rejected), and its keys and values.
bool readLogProperties(const QByteArray &text, LogProperties &properties, QString *error);
QStringList logPropertyKeys(const LogProperties &properties);
QString logProperty(const LogProperties &properties, const QString &key);
void setLogProperty(LogProperties &properties, const QString &key, const QString &value);
