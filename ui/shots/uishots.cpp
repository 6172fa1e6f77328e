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
#include <QLineEdit>
#include <QListView>
#include <QSpacerItem>
#include <QPainter>
#include <QPen>
#include <QScreen>
#include <QTextStream>
#include <functional>

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/basewgt.h"
#include "ui/connecterrordlg.h"
#include "ui/connectpushbutton.h"
#include "ui/joinconfcombo.h"
#include "ui/sendtoolbutton.h"
#include "ui/shadow.h"
#include "ui/widgetscaler.h"
#include "ui/dpisupport.h"
#include "ui/generalutils.h"
#include "ui/messageboxdlg.h"
#include "ui/messagewidget.h"
#include "ui/passworddlg.h"

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

// The main window's controls under its style sheets, both pages side by
// side, with the busy icon and the checked send button shown as well.
class ControlsPreview : public CBaseWgt {
  Q_OBJECT

 public:
  ControlsPreview() {
    setObjectName(QStringLiteral("mainWidget"));
    setAttribute(Qt::WA_TranslucentBackground);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(10, 10, 10, 10);
    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("mainFrame"));
    outer->addWidget(frame);
    addFrameShadow(frame);
    auto* columns = new QHBoxLayout(frame);
    columns->setContentsMargins(20, 16, 20, 16);
    columns->setSpacing(30);
    columns->addLayout(readyPage());
    columns->addLayout(runPage());
    CGeneralUtils::setStyle(this, QStringLiteral(":/qss/qss/tandeo.qss"));
    adjustSize();
  }

 protected:
  void showEvent(QShowEvent* event) override {
    scaler_.recordBaseSize(width(), height(), this);
    CBaseWgt::showEvent(event);
    centerWindow();
  }
  void onDpiChanged() override {
    setStyleSheet(QString());
    loadScaledStyle(QStringLiteral(":/qss/qss/tandeo"));
    scaler_.applyScale(m_fStretchFactor, this);
  }

 private:
  template <class W>
  static W* fixed(W* w, const char* name, int width, int height) {
    w->setObjectName(QLatin1String(name));
    w->setFixedSize(width, height);
    return w;
  }
  static QLabel* label(const char* name, const QString& text, int width, int height) {
    auto* l = fixed(new QLabel(text), name, width, height);
    l->setAlignment(Qt::AlignCenter);
    return l;
  }

  QVBoxLayout* readyPage() {
    auto* page = new QVBoxLayout;
    page->setSpacing(0);
    page->addWidget(fixed(new QWidget, "wdt_picture", 208, 140), 0, Qt::AlignHCenter);
    page->addSpacing(4);
    page->addWidget(label("label", QStringLiteral("输入设备地址, 连接设备开启无线投屏"), 280, 30));
    page->addItem(new QSpacerItem(20, 20, QSizePolicy::Minimum, QSizePolicy::Fixed));
    auto* combo = fixed(new CJoinConfCombo, "comboBox_input", 280, 34);
    combo->setEditable(true);
    combo->initLineEdit();
    combo->lineEdit()->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    combo->setView(new QListView(this));
    combo->setEditPlaceholderText(QStringLiteral("请输入设备IP地址"));
    page->addWidget(combo);
    page->addItem(new QSpacerItem(20, 10, QSizePolicy::Minimum, QSizePolicy::Fixed));
    auto* connect = fixed(new CConnectPushbutton, "pBt_connect", 280, 34);
    connect->setText(QStringLiteral("开始连接"));
    connect->setButtonIcon(QStringLiteral(":/images/images/icon_pair.png"), false);
    page->addWidget(connect);
    page->addItem(new QSpacerItem(20, 10, QSizePolicy::Minimum, QSizePolicy::Fixed));
    auto* busy = fixed(new CConnectPushbutton, "pBt_connect", 280, 34);
    busy->setText(QStringLiteral("开始连接"));
    busy->setButtonIcon(QStringLiteral(":/images/images/loading.gif"), true);
    page->addWidget(busy);
    page->addStretch();
    return page;
  }

  QVBoxLayout* runPage() {
    auto* page = new QVBoxLayout;
    page->setSpacing(0);
    page->addWidget(label("label_show", QStringLiteral("已连接设备 192.168.1.20"), 280, 34));
    page->addItem(new QSpacerItem(20, 20, QSizePolicy::Minimum, QSizePolicy::Fixed));
    auto* disconnect = fixed(new CConnectPushbutton, "pBt_disconnect", 280, 34);
    disconnect->setText(QStringLiteral("断开连接"));
    page->addWidget(disconnect);
    page->addItem(new QSpacerItem(20, 30, QSizePolicy::Minimum, QSizePolicy::Fixed));
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addStretch();
    // send, stop, starting (stop face, busy) and stopping (send face, busy)
    for (int state = 0; state < 4; ++state) {
      auto* send = fixed(new CSendToolbutton, "toolbt_send", 64, 64);
      send->setCheckable(true);
      send->setChecked(state == 1 || state == 2);
      if (state >= 2) send->setButtonIcon(QStringLiteral(":/images/images/loading.gif"), true);
      buttons->addWidget(send);
    }
    buttons->addStretch();
    page->addLayout(buttons);
    page->addItem(new QSpacerItem(20, 10, QSizePolicy::Minimum, QSizePolicy::Fixed));
    page->addWidget(label("label_sendtips", QStringLiteral("开始发送"), 280, 30));
    page->addStretch();
    page->addWidget(label("label_version", QStringLiteral("版本号: 2.0.0.22"), 140, 20), 0,
                    Qt::AlignHCenter);
    return page;
  }

  CWidgetScaler scaler_;
};

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
    CPasswordDlg dialog(&owner, QStringLiteral("该设备需要密码"));
    ok &= snap(QStringLiteral("password"), &dialog);
  }
  {
    CPasswordDlg dialog(&owner, QStringLiteral("密码错误，请重新输入"));
    QLineEdit* edit = dialog.findChild<QLineEdit*>(QStringLiteral("lineEdit_password"));
    edit->setText(QStringLiteral("secret"));
    QMetaObject::invokeMethod(edit, "textEdited", Q_ARG(QString, edit->text()));
    ok &= snap(QStringLiteral("password-wrong"), &dialog);
  }
  {
    CMessageWidget toast(&owner);
    ok &= snap(QStringLiteral("toast"), &toast);
  }
  {
    ControlsPreview preview;
    ok &= snap(QStringLiteral("main-controls"), &preview);
  }
  return ok ? 0 : 1;
}

#include "uishots.moc"
