#pragma once
// Style sheet loading for the windows; the sheets live in the resources.

#include <QString>
#include <QStringList>

class QWidget;

class CGeneralUtils {
 public:
  // Sets the concatenation of the files that could be read as the widget's
  // style sheet; unreadable files are logged and left out.
  static void setStyle(QWidget* widget, QStringList files);
  // Sets one file as the style sheet; an unreadable file leaves it as it was.
  static void setStyle(QWidget* widget, const QString& file);
};
