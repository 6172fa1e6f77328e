// The program: one instance per user session, logging set up from the
// properties file beside the executable, then the main window until it closes.

#include <QCoreApplication>
#include <QDebug>
#include <QString>

#include "app/log_properties.h"
#include "app/single_application.h"
#include "ui/mainwidget.h"

int main(int argc, char* argv[]) {
  const QString key = QStringLiteral("signal-tandeo");
  CSingleApplication app(argc, argv, key);
  if (app.isRunning()) {
    app.sendMessage(QStringLiteral("message from other instance"));
    return 0;
  }

  configureLogSystem(QCoreApplication::applicationDirPath() +
                     QStringLiteral("/log4qt_win.properties"));
  qInfo() << "main" << __LINE__ << "load logSystem cucceed";

  Widget* window = new Widget(nullptr);
  // A second start means the user is looking for the window: bring it up.
  QObject::connect(&app, &CSingleApplication::messageAvailable, window, [window](const QString& message) {
    qDebug() << "main" << __LINE__ << "another instance was started:" << message;
    window->bringToFront();
    qInfo() << "main" << __LINE__ << "brought the window to the front";
  });
  window->show();
  const int result = app.exec();
  delete window;
  qInfo() << "main" << __LINE__ << "exit" << result;
  return result;
}
