// Saves a picture of every state of the main window, drawn at the stretch
// factor of its screen (set it with QT_FONT_DPI or the X server's -dpi):
//
//   tandeo-main-shots OUTPUT_DIR
//
// Files: main-<state>-<f>x.png, the window (and the toast or message box
// of that state where it stands beside or over it) on a neutral backdrop.
// The window's commands go nowhere; the manager's results are delivered to
// it by name, so no device is needed.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>

#include "app/save_datafile.h"
#include "app/tandeo_mgr.h"
#include "ui/dpisupport.h"
#include "ui/mainwidget.h"
#include "ui/messageboxdlg.h"

namespace {

void settle(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Every visible top-level window, drawn where it stands, on a backdrop that
// covers all of them with a margin.
QImage composite() {
  QList<QWidget*> shown;
  QRect area;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!w->isVisible() || w->isMinimized()) continue;
    shown << w;
    area |= w->frameGeometry();
  }
  // Boxes and toasts open above the window they belong to.
  std::stable_sort(shown.begin(), shown.end(), [](QWidget* a, QWidget* b) {
    return qobject_cast<Widget*>(a) && !qobject_cast<Widget*>(b);
  });
  const int pad = 24;
  area.adjust(-pad, -pad, pad, pad);
  QImage out(area.size(), QImage::Format_RGB32);
  out.fill(QColor(0xdf, 0xe4, 0xec));
  QPainter p(&out);
  for (QWidget* w : shown) p.drawPixmap(w->pos() - area.topLeft(), w->grab());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  // A private store with two earlier devices, so the address box has a list.
  QTemporaryDir home;
  qputenv("appdata", QFile::encodeName(home.path()));
  QApplication app(argc, argv);
  // "screens": only the sharing page with its monitor list (run it on a
  // display with several monitors).
  const bool screensOnly = argc == 3 && QLatin1String(argv[2]) == QLatin1String("screens");
  if (argc != 2 && !screensOnly) {
    QTextStream(stderr) << "usage: tandeo-main-shots OUTPUT_DIR [screens]\n";
    return 2;
  }
  QDir out(QString::fromLocal8Bit(argv[1]));
  out.mkpath(QStringLiteral("."));
  const QString tag =
      dpi::factorText(dpi::stretchFactor(int(QGuiApplication::primaryScreen()->logicalDotsPerInchX()))) +
      QLatin1String("x");

  bool ok = true;
  auto snap = [&](const QString& name) {
    settle(500);
    const QString file = out.filePath(QStringLiteral("main-") + name + QLatin1Char('-') + tag +
                                      QLatin1String(".png"));
    const QImage image = composite();
    const bool saved = image.save(file);
    ok &= saved;
    QTextStream(stdout) << file << " " << image.width() << "x" << image.height()
                        << (saved ? "" : " (not saved)") << "\n";
  };
  // A box opened by a slot runs its own loop: photograph it from a timer,
  // then close it.
  auto snapBox = [&](const QString& name, const std::function<void()>& open) {
    QTimer::singleShot(0, [&] {
      snap(name);
      if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
        box->done(QDialog::Rejected);
    });
    open();
  };

  if (screensOnly) {
    Widget w;
    QObject::disconnect(&w, nullptr, TandeoMgr::instance(), nullptr);
    w.show();
    QMetaObject::invokeMethod(&w, "slot_connect_succeed");
    snap(QStringLiteral("screens"));
    auto* list = w.findChild<QComboBox*>(QStringLiteral("comboBox_screen"));
    list->showPopup();
    snap(QStringLiteral("screens-list"));
    list->hidePopup();
    return ok ? 0 : 1;
  }

  {
    Widget w;
    QObject::disconnect(&w, nullptr, TandeoMgr::instance(), nullptr);
    w.show();
    snap(QStringLiteral("ready"));
  }

  CSaveDatafile::instance()->writeMeetingNumbers(
      {QStringLiteral("192.168.1.20"), QStringLiteral("10.8.0.31")});
  Widget w;
  QObject::disconnect(&w, nullptr, TandeoMgr::instance(), nullptr);
  w.show();
  auto button = [&](const char* name) { return w.findChild<QAbstractButton*>(QLatin1String(name)); };

  snap(QStringLiteral("ready-recent"));
  button("pBt_connect")->click();
  snap(QStringLiteral("connecting"));
  QMetaObject::invokeMethod(&w, "slot_connect_succeed");
  snap(QStringLiteral("connected"));
  button("toolbt_send")->click();
  snap(QStringLiteral("send-starting"));
  QMetaObject::invokeMethod(&w, "slot_send_succeed");
  snap(QStringLiteral("sending"));
  settle(3000);  // the toast goes
  snap(QStringLiteral("sending-later"));
  button("toolbt_send")->click();
  snap(QStringLiteral("send-stopping"));
  QMetaObject::invokeMethod(&w, "slot_stopsend_succeed");

  snapBox(QStringLiteral("close-question"), [&] { button("pBt_close")->click(); });
  snapBox(QStringLiteral("closed"), [&] { QMetaObject::invokeMethod(&w, "slot_connect_closed"); });
  button("pBt_connect")->click();
  snapBox(QStringLiteral("rejected"),
          [&] { QMetaObject::invokeMethod(&w, "slot_connect_rejected", Q_ARG(int, 2)); });
  button("pBt_connect")->click();
  snapBox(QStringLiteral("timeout"), [&] { QMetaObject::invokeMethod(&w, "slot_connect_timeout"); });
  button("pBt_connect")->click();
  snapBox(QStringLiteral("password"),
          [&] { QMetaObject::invokeMethod(&w, "slot_connect_rejected", Q_ARG(int, 1)); });
  button("pBt_connect")->click();
  snapBox(QStringLiteral("failed"), [&] { QMetaObject::invokeMethod(&w, "slot_connect_failed"); });
  return ok ? 0 : 1;
}
