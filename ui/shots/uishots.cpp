// Saves a picture of each dialog and of the toast, drawn at the stretch
// factor of the screen they appear on (set it with QT_FONT_DPI or the X
// server's -dpi):
//
//   tandeo-ui-shots OUTPUT_DIR
//
// For each window two files: NAME-<f>x.png, the window itself with its
// shadow on a neutral backdrop, and NAME-<f>x-screen.png, the window drawn
// where it stands on the screen, with the centre lines of the screen's
// available area, to see that it was centred.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QPen>
#include <QScreen>
#include <QTextStream>
#include <functional>

#include "ui/connecterrordlg.h"
#include "ui/dpisupport.h"
#include "ui/messageboxdlg.h"
#include "ui/messagewidget.h"

namespace {

void settle(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The window on a light desktop-like backdrop, so that its shadow shows.
QImage onBackdrop(QWidget* window) {
  QPixmap shot = window->grab();
  const int pad = 24;
  QImage out(shot.width() + 2 * pad, shot.height() + 2 * pad, QImage::Format_RGB32);
  out.fill(QColor(0xdf, 0xe4, 0xec));
  QPainter p(&out);
  p.drawPixmap(pad, pad, shot);
  return out;
}

// The screen with the window where it was placed and the centre lines.
QImage onScreen(QWidget* window, QScreen* screen) {
  QRect geometry = screen->geometry();
  QImage out(geometry.size(), QImage::Format_RGB32);
  out.fill(QColor(0xdf, 0xe4, 0xec));
  QPainter p(&out);
  p.drawPixmap(window->pos() - geometry.topLeft(), window->grab());
  p.setPen(QPen(QColor(0xe0, 0x28, 0x28), 1, Qt::DashLine));
  QPoint centre = screen->availableGeometry().center() - geometry.topLeft();
  p.drawLine(centre.x(), 0, centre.x(), out.height());
  p.drawLine(0, centre.y(), out.width(), centre.y());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    QTextStream(stderr) << "usage: tandeo-ui-shots OUTPUT_DIR\n";
    return 2;
  }
  QDir out(QString::fromLocal8Bit(argv[1]));
  out.mkpath(QStringLiteral("."));
  QScreen* screen = QGuiApplication::primaryScreen();
  const QString tag = dpi::factorText(dpi::stretchFactor(int(screen->logicalDotsPerInchX()))) +
                      QLatin1String("x");

  // The owner stands where a main window would, near the top left.
  QWidget owner;
  owner.resize(340, 560);
  owner.move(60, 60);

  const QString title = QStringLiteral("提示");
  auto snap = [&](const QString& name, QWidget* window) {
    window->show();
    settle(400);
    QString file = out.filePath(name + QLatin1Char('-') + tag + QLatin1String(".png"));
    QString whole = out.filePath(name + QLatin1Char('-') + tag + QLatin1String("-screen.png"));
    bool ok = onBackdrop(window).save(file) && onScreen(window, screen).save(whole);
    QTextStream(stdout) << file << " " << window->width() << "x" << window->height() << " at "
                        << window->x() << "," << window->y() << (ok ? "" : " (not saved)")
                        << "\n";
    window->hide();
    return ok;
  };

  bool ok = true;
  {
    CMessageBoxDlg box(&owner, title, QStringLiteral("连接超时"));
    ok &= snap(QStringLiteral("information"), &box);
  }
  {
    CMessageBoxDlg box(&owner, title, QStringLiteral("您确定关闭应用吗？"),
                       QDialogButtonBox::Ok | QDialogButtonBox::Cancel, QDialogButtonBox::Ok);
    ok &= snap(QStringLiteral("question"), &box);
  }
  {
    CMessageBoxDlg box(&owner, title,
                       QStringLiteral("无法连接到设备 192.168.1.20，请检查设备是否开启，"
                                      "并确保电脑与设备处于同一网络后重试。"),
                       QDialogButtonBox::Yes | QDialogButtonBox::No, QDialogButtonBox::Yes);
    ok &= snap(QStringLiteral("yes-no-long"), &box);
  }
  {
    CConnectErrorDlg dialog(&owner);
    ok &= snap(QStringLiteral("connect-error"), &dialog);
  }
  {
    CMessageWidget toast(&owner);
    ok &= snap(QStringLiteral("toast"), &toast);
  }
  return ok ? 0 : 1;
}
