#include "ui/generalutils.h"

#include <QDebug>
#include <QFile>
#include <QWidget>

namespace {

// Style sheets are Latin-1 text; a stray zero byte ends the text.
bool readStyleText(const QString& name, QString* text) {
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) return false;
  QByteArray data = file.readAll();
  int zero = data.indexOf('\0');
  if (zero >= 0) data.truncate(zero);
  *text = QString::fromLatin1(data);
  file.close();
  return true;
}

}  // namespace

void CGeneralUtils::setStyle(QWidget* widget, QStringList files) {
  qInfo() << "CGeneralUtils::setStyle" << __LINE__;
  if (!widget) return;
  QStringList texts;
  for (const QString& name : files) {
    QString text;
    if (readStyleText(name, &text))
      texts << text;
    else
      qInfo() << "CGeneralUtils::setStyle" << __LINE__ << "Failed to open qss file:" << name;
  }
  widget->setStyleSheet(texts.join(QString()));
}

void CGeneralUtils::setStyle(QWidget* widget, const QString& file) {
  if (!widget) return;
  qInfo() << "CGeneralUtils::setStyle" << __LINE__ << widget->objectName();
  QString text;
  if (readStyleText(file, &text))
    widget->setStyleSheet(text);
  else
    qInfo() << "CGeneralUtils::setStyle" << __LINE__ << "Failed to open qss file:" << file;
}
