#include "ui/dpisupport.h"

#include <QDebug>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace dpi {

namespace {

QString tag(const char* cls, const char* function) {
  return QString::fromLatin1(cls) + QLatin1String("::") + QLatin1String(function);
}

// A child of the window that keeps one connection to the DPI signal of the
// window's current screen.
class ScreenFollower : public QObject {
 public:
  static constexpr const char* kName = "tandeo_screen_follower";

  ScreenFollower(QWidget* window, std::function<void(int)> onDpi)
      : QObject(window), onDpi_(std::move(onDpi)) {
    setObjectName(QLatin1String(kName));
  }

  void watch(QScreen* screen) {
    disconnect(dpiConnection_);
    if (!screen) return;
    dpiConnection_ = connect(screen, &QScreen::logicalDotsPerInchChanged, this,
                             [this](qreal value) { onDpi_(static_cast<int>(value)); });
  }

  void screenChanged(QScreen* screen) {
    watch(screen);
    if (screen) onDpi_(static_cast<int>(screen->logicalDotsPerInchX()));
  }

  // The native window is created anew when a shown widget changes its window
  // flags; attach to whichever handle the widget has now.
  void attach(QWindow* handle) {
    if (handle_ == handle) return;
    disconnect(screenConnection_);
    handle_ = handle;
    watch(handle->screen());
    screenConnection_ = connect(handle, &QWindow::screenChanged, this,
                                [this](QScreen* screen) { screenChanged(screen); });
  }

 private:
  std::function<void(int)> onDpi_;
  QPointer<QWindow> handle_;
  QMetaObject::Connection screenConnection_;
  QMetaObject::Connection dpiConnection_;
};

}  // namespace

double stretchFactor(int dpi) {
  double ratio = static_cast<unsigned>(dpi) / 96.0;
  if (ratio >= 2.0) return 2.0;
  if (ratio >= 1.5) return 1.5;
  return 1.0;
}

QString factorText(double factor) { return QString::number(factor, 'g', 6); }

QStringList scaledStyleFiles(const QString& baseName, double factor) {
  return {baseName + QLatin1String(".qss"),
          baseName + QLatin1Char('-') + factorText(factor) + QLatin1String("x.qss")};
}

bool updateDpi(const char* cls, const QWidget* window, int newDpi, int& lastDpi,
               double& factor) {
  const QString t = tag(cls, "updateDpi");
  qInfo().noquote() << t << __LINE__ << newDpi << window;
  if (newDpi == lastDpi) {
    qInfo().noquote() << t << __LINE__ << "Dpi not changed";
    return false;
  }
  lastDpi = newDpi;
  double f = stretchFactor(newDpi);
  qInfo().noquote() << t << __LINE__ << "fStretchFactor:" << f;
  if (f - factor < 0.000001 && factor - f < 0.000001) {
    qInfo().noquote() << t << __LINE__ << "fStretchFactor not changed";
    return false;
  }
  factor = f;
  return true;
}

QScreen* displayScreen(const char* cls, const QWidget* window) {
  const QString t = tag(cls, "getDisplayScreen");
  qInfo().noquote() << t << __LINE__;
  QPoint centre(window->x() + window->width() / 2, window->y() + window->height() / 2);
  if (QScreen* screen = QGuiApplication::screenAt(centre)) return screen;
  qWarning().noquote() << t << __LINE__ << "Can not get valid screen by center point:" << centre;
  if (QScreen* screen = QGuiApplication::primaryScreen()) return screen;
  qWarning().noquote() << t << __LINE__ << "primaryScreen is invalid";
  return nullptr;
}

void centerWindow(const char* cls, QWidget* window) {
  const QString t = tag(cls, "centerWindow");
  qInfo().noquote() << t << __LINE__ << window;
  QScreen* screen = displayScreen(cls, window);
  if (!screen) {
    qWarning().noquote() << t << __LINE__ << "Can not get valid screen";
    return;
  }
  qInfo().noquote() << t << __LINE__ << "screen name:" << screen->name()
                    << ", logicalDotsPerInchX: " << screen->logicalDotsPerInchX()
                    << "logicalDotsPerInchY: " << screen->logicalDotsPerInchY();
  QRect avail = screen->availableGeometry();
  qInfo().noquote() << t << __LINE__ << "Current screen availableGeometry:" << avail
                    << ", geometry:" << screen->geometry();
  int x = (avail.width() - window->width()) / 2 + avail.left();
  int y = (avail.height() - window->height()) / 2 + avail.top();
  qInfo().noquote() << t << __LINE__ << "Move window to " << x << y;
  window->move(x, y);
}

void followScreen(QWidget* window, const std::function<void(int)>& onDpi) {
  QWindow* handle = window->windowHandle();
  if (!handle) return;
  auto* follower = static_cast<ScreenFollower*>(window->findChild<QObject*>(
      QLatin1String(ScreenFollower::kName), Qt::FindDirectChildrenOnly));
  if (!follower) follower = new ScreenFollower(window, onDpi);
  follower->attach(handle);
}

}  // namespace dpi
