#pragma once

// Routes Qt's message streams (qDebug(), qInfo(), qWarning(), qCritical(),
// qFatal()) into the log back-end when handle is true: messages of the default
// category go to the root logger, those of a named category to the logger
// of that name, at the matching level. false gives them back to the handler
// that was installed before.
void setHandleQtMessages(bool handle);
