#pragma once

#include <QString>

namespace log4cxx {
namespace helpers {
class Properties;
}
} // namespace log4cxx

// Fills properties from the properties file at path, expands ${VAR}
// references in every value from the environment, and appends
// "/<application name>/app.log" to the value of "log4j.appender.dest.file",
// so the file appender "dest" writes into a folder named after the program.
// A missing or unreadable file leaves properties empty (logged at debug level).
void loadLogProperties(const QString &path, log4cxx::helpers::Properties &properties);

// Replaces each ${NAME} in value whose variable is set and not empty by the
// variable's value with backslashes turned into "/"; unset or empty variables
// and a "${" without "}" stay as they are. Inserted text is never scanned again.
QString expandEnvironmentReferences(const QString &value);

// Start-up's logging set-up: a basic console configuration first, then the
// properties file at path on top of it, then Qt's message streams
// (qDebug(), qInfo(), ...) are routed into log4cxx.
void configureLogSystem(const QString &propertiesPath);
