#include "ui/mainwidget.h"

#include <QDialogButtonBox>
#include <QGraphicsDropShadowEffect>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

#include "app/save_datafile.h"
#include "app/tandeo_mgr.h"
#include "ui/connecterrordlg.h"
#include "ui/generalutils.h"
#include "ui/messageboxdlg.h"
#include "ui/messagewidget.h"
#include "ui/passworddlg.h"
#include "ui_mainwidget.h"

namespace {

const char kVersion[] = "2.0.0.22";
const QString kPairIcon = QStringLiteral(":/images/images/icon_pair.png");
const QString kBusyIcon = QStringLiteral(":/images/images/loading.gif");

// The device's reasons for refusing a pairing, by the code it sent.
QString refusalReason(int code) {
  switch (code) {
    case 1: return QStringLiteral("密码错误");
    case 2: return QStringLiteral("设备忙，请稍后再试");
    case 3: return QStringLiteral("设备不允许此电脑连接");
    default: return QString();
  }
}

// A press this close to an edge of the frameless window never drags it.
constexpr int kEdge = 3;
constexpr int kPressInside = 22;

}  // namespace

Widget::Widget(QWidget* parent)
    : CBaseWgt(parent),
      ui(new Ui::mainWidget),
      m_uiState(UI_STATE_READY),
      m_messageWidget(nullptr),
      m_bFirstShow(true),
      m_bMousePressed(false),
      m_pressArea(kPressInside) {
  ui->setupUi(this);
  // Only mainFrame is painted; the margin around it shows the shadow.
  setAttribute(Qt::WA_TranslucentBackground);

  TandeoMgr::createInstance();
  initUi();

  TandeoMgr* mgr = TandeoMgr::instance();
  connect(mgr, SIGNAL(signal_connect_succeed()), this, SLOT(slot_connect_succeed()));
  connect(mgr, SIGNAL(signal_connect_failed()), this, SLOT(slot_connect_failed()));
  connect(mgr, SIGNAL(signal_send_succeed()), this, SLOT(slot_send_succeed()));
  connect(mgr, SIGNAL(signal_send_failed()), this, SLOT(slot_send_failed()));
  connect(mgr, SIGNAL(signal_stopsend_succeed()), this, SLOT(slot_stopsend_succeed()));
  connect(mgr, SIGNAL(signal_connect_rejected(int)), this, SLOT(slot_connect_rejected(int)));
  connect(mgr, SIGNAL(signal_connect_timeout()), this, SLOT(slot_connect_timeout()));
  connect(mgr, SIGNAL(signal_connect_closed()), this, SLOT(slot_connect_closed()));
  connect(mgr, SIGNAL(signal_screens_changed()), this, SLOT(slot_screens_changed()));
  connect(this, SIGNAL(signal_choose_screen(QString)), mgr, SLOT(slot_choose_screen(QString)));
  connect(mgr, SIGNAL(signal_capture_refused()), this, SLOT(slot_capture_refused()));
  connect(this, SIGNAL(signal_connect(QString)), mgr, SLOT(slot_connect(QString)));
  connect(this, SIGNAL(signal_connect_password(QString, QString)), mgr,
          SLOT(slot_connect_password(QString, QString)));
  connect(this, SIGNAL(signal_disconnect()), mgr, SLOT(slot_disconnect()));
  connect(this, SIGNAL(signal_send()), mgr, SLOT(slot_send()));
  connect(this, SIGNAL(signal_stopsend()), mgr, SLOT(slot_stopsend()));
}

Widget::~Widget() {
  TandeoMgr::destroyInstance();
  delete m_messageWidget;
  delete ui;
}

void Widget::initUi() {
  ui->label->setText(QStringLiteral("输入设备地址, 连接设备开启无线投屏"));

  ui->comboBox_input->initLineEdit();
  ui->comboBox_input->lineEdit()->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  // A view of our own, so that the style sheet's item rules reach the list.
  ui->comboBox_input->setView(new QListView(this));
  ui->comboBox_input->setEditPlaceholderText(QStringLiteral("请输入设备IP地址"));

  ui->pBt_connect->setText(QStringLiteral("开始连接"));
  ui->pBt_connect->setButtonIcon(kPairIcon, false);
  ui->pBt_disconnect->setText(QStringLiteral("断开连接"));
  ui->label_sendtips->setText(QStringLiteral("开始发送"));
  ui->label_version->setText(QStringLiteral("版本号: %1").arg(QLatin1String(kVersion)));

  m_recentAddresses = CSaveDatafile::instance()->readMeetingNumbers();
  for (const QString& address : qAsConst(m_recentAddresses)) {
    if (!address.isEmpty()) ui->comboBox_input->addItem(address);
  }

  ui->comboBox_screen->setView(new QListView(this));
  // The style sheet's item rules reach the list through this delegate.
  ui->comboBox_screen->setItemDelegate(new QStyledItemDelegate(ui->comboBox_screen));
  ui->comboBox_screen->setToolTip(QStringLiteral("共享的屏幕"));
  ui->comboBox_screen->hide();

  ui->stackedWidget->setCurrentWidget(ui->page_ready);
  CGeneralUtils::setStyle(this, QStringLiteral(":/qss/qss/tandeo.qss"));

  auto* shadow = new QGraphicsDropShadowEffect(this);
  shadow->setOffset(0, 0);
  shadow->setColor(QColor(QStringLiteral("#444444")));
  shadow->setBlurRadius(10);
  ui->mainFrame->setGraphicsEffect(shadow);
}

void Widget::setUiState(int state) {
  m_uiState = state;
  updateUiState();
}

void Widget::updateUiState() {
  switch (m_uiState) {
    case UI_STATE_READY:
      ui->pBt_connect->setText(QStringLiteral("开始连接"));
      ui->pBt_connect->setButtonIcon(kPairIcon, false);
      ui->stackedWidget->setCurrentWidget(ui->page_ready);
      break;
    case UI_STATE_CONNECTING:
      // While pairing the same button cancels.
      ui->pBt_connect->setText(QStringLiteral("取消连接"));
      ui->pBt_connect->setButtonIcon(kBusyIcon, true);
      ui->stackedWidget->setCurrentWidget(ui->page_ready);
      break;
    case UI_STATE_CONNECTED:
      ui->pBt_disconnect->setText(QStringLiteral("断开连接"));
      ui->label_sendtips->setText(QStringLiteral("开始发送"));
      ui->toolbt_send->setButtonIcon(QString(), false);
      ui->toolbt_send->setChecked(false);
      ui->stackedWidget->setCurrentWidget(ui->page_run);
      break;
    case UI_STATE_SEND_STARTING:
      ui->label_sendtips->setText(QStringLiteral("发送中"));
      ui->toolbt_send->setButtonIcon(kBusyIcon, true);
      ui->stackedWidget->setCurrentWidget(ui->page_run);
      break;
    case UI_STATE_SENDING:
      ui->label_sendtips->setText(QStringLiteral("停止发送"));
      ui->toolbt_send->setButtonIcon(QString(), false);
      ui->stackedWidget->setCurrentWidget(ui->page_run);
      break;
    case UI_STATE_SEND_STOPPING:
      ui->label_sendtips->setText(QStringLiteral("停止发送中"));
      ui->toolbt_send->setButtonIcon(kBusyIcon, true);
      ui->stackedWidget->setCurrentWidget(ui->page_run);
      break;
    default:
      break;
  }
  updateScreenChoice();
}

void Widget::updateScreenChoice() {
  TandeoMgr* mgr = TandeoMgr::instance();
  const QList<ScreenArea> screens = mgr ? mgr->screens() : QList<ScreenArea>();
  const bool offer = screens.size() > 1 && ui->stackedWidget->currentWidget() == ui->page_run;
  if (offer) {
    const QSignalBlocker blocker(ui->comboBox_screen);
    ui->comboBox_screen->clear();
    for (const ScreenArea& screen : screens) {
      QString text = QStringLiteral("%1  %2×%3")
                         .arg(screen.name)
                         .arg(screen.area.right - screen.area.left)
                         .arg(screen.area.bottom - screen.area.top);
      if (screen.primary) text += QStringLiteral(" (主屏幕)");
      ui->comboBox_screen->addItem(text, screen.name);
    }
    ui->comboBox_screen->setCurrentIndex(qMax(0, ui->comboBox_screen->findData(mgr->captureScreen())));
  }
  ui->comboBox_screen->setVisible(offer);
}

void Widget::slot_screens_changed() { updateScreenChoice(); }

void Widget::on_comboBox_screen_activated(int index) {
  const QString name = ui->comboBox_screen->itemData(index).toString();
  if (!name.isEmpty()) emit signal_choose_screen(name);
}

void Widget::bringToFront() {
  if (isMinimized())
    showNormal();
  else
    show();
  raise();
  activateWindow();
}

void Widget::information(const QString& text) {
  CMessageBoxDlg::information(this, QStringLiteral("提示"), text);
}

// --- user commands ---------------------------------------------------------

void Widget::on_pBt_min_clicked() {
  const QSignalBlocker blocker(ui->pBt_min);
  showMinimized();
}

void Widget::on_pBt_close_clicked() {
  const QSignalBlocker blocker(ui->pBt_close);
  const QDialogButtonBox::StandardButton answer = CMessageBoxDlg::question(
      this, QStringLiteral("提示"), QStringLiteral("您确定关闭应用吗？"),
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel, QDialogButtonBox::Ok);
  if (answer == QDialogButtonBox::Ok) close();
}

void Widget::on_pBt_connect_clicked() {
  const QSignalBlocker blocker(ui->pBt_connect);
  if (m_uiState == UI_STATE_CONNECTING) {
    // "取消连接": the attempt ends, the address page is back at once.
    emit signal_disconnect();
    setUiState(UI_STATE_READY);
    return;
  }
  const QString address = ui->comboBox_input->currentText().trimmed();
  if (address.isEmpty()) {
    information(QStringLiteral("请输入设备地址"));
    return;
  }
  m_connectingAddress = address;
  m_attemptHadPassword = false;
  setUiState(UI_STATE_CONNECTING);
  emit signal_connect(address);
}

void Widget::on_pBt_disconnect_clicked() {
  const QSignalBlocker blocker(ui->pBt_disconnect);
  emit signal_disconnect();
  setUiState(UI_STATE_READY);
}

void Widget::on_toolbt_send_clicked(bool) {
  const QSignalBlocker blocker(ui->toolbt_send);
  if (ui->toolbt_send->isChecked()) {
    setUiState(UI_STATE_SEND_STARTING);
    emit signal_send();
  } else {
    setUiState(UI_STATE_SEND_STOPPING);
    emit signal_stopsend();
  }
}

// --- the manager's results ---------------------------------------------------

void Widget::slot_connect_succeed() {
  // The device paired is the one asked for, whatever the box shows now.
  const QString address = m_connectingAddress.isEmpty()
                              ? ui->comboBox_input->currentText().trimmed()
                              : m_connectingAddress;
  ui->label_show->setText(QStringLiteral("已连接设备 %1").arg(address));
  if (!address.isEmpty() && !m_recentAddresses.contains(address)) {
    ui->comboBox_input->addItem(address);
    m_recentAddresses.prepend(address);
    CSaveDatafile::instance()->writeMeetingNumbers(m_recentAddresses);
  }
  setUiState(UI_STATE_CONNECTED);
}

void Widget::slot_connect_failed() {
  CConnectErrorDlg dialog(this);
  dialog.exec();
  // The attempt could not even start: back to the address.
  if (m_uiState == UI_STATE_CONNECTING) setUiState(UI_STATE_READY);
}

void Widget::slot_disconnect_succeed() { ui->stackedWidget->setCurrentWidget(ui->page_ready); }

void Widget::slot_disconnect_failed() { information(QStringLiteral("断开连接失败")); }

void Widget::slot_send_succeed() {
  setUiState(UI_STATE_SENDING);
  if (!m_messageWidget) m_messageWidget = new CMessageWidget(this);
  m_messageWidget->showTip(true);
}

void Widget::slot_send_failed() {
  information(QStringLiteral("发送失败"));
  setUiState(UI_STATE_CONNECTED);
}

void Widget::slot_stopsend_succeed() {
  ui->toolbt_send->setChecked(false);
  setUiState(UI_STATE_CONNECTED);
}

void Widget::slot_stopsend_failed() {
  information(QStringLiteral("停止发送失败"));
  ui->label_sendtips->setText(QStringLiteral("停止发送"));
}

void Widget::slot_connect_rejected(int iCode) {
  // Wrong password, or a plain refusal of a pairing without one (a device
  // that wants a password may refuse that way): ask for the password.
  if (iCode == 1) {
    askPassword(m_attemptHadPassword ? QStringLiteral("密码错误，请重新输入")
                                     : QStringLiteral("该设备需要密码"));
    return;
  }
  if (iCode == 0 && !m_attemptHadPassword) {
    askPassword(QStringLiteral("设备拒绝了连接，请输入密码"));
    return;
  }
  const QString reason = refusalReason(iCode);
  information(reason.isEmpty() ? QStringLiteral("连接被拒绝") : QStringLiteral("连接被拒绝：%1").arg(reason));
  setUiState(UI_STATE_READY);
}

void Widget::askPassword(const QString& notice) {
  QString password;
  if (CPasswordDlg::getPassword(this, notice, &password) && !m_connectingAddress.isEmpty()) {
    m_attemptHadPassword = true;
    setUiState(UI_STATE_CONNECTING);
    emit signal_connect_password(m_connectingAddress, password);
    password.fill(QLatin1Char('\0'));
    return;
  }
  setUiState(UI_STATE_READY);
}

void Widget::slot_connect_timeout() {
  information(QStringLiteral("连接超时"));
  setUiState(UI_STATE_READY);
}

void Widget::slot_connect_closed() {
  if (isMinimized()) showNormal();
  information(QStringLiteral("连接关闭"));
  setUiState(UI_STATE_READY);
}

void Widget::slot_capture_refused() {
  if (isMinimized()) showNormal();
  information(QStringLiteral("未获得屏幕共享权限"));
}

// --- dragging the frameless window ------------------------------------------

void Widget::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    m_bMousePressed = true;
    m_lastMousePos = event->globalPos();
    const QPoint p = event->pos();
    const int horizontal = p.x() < kEdge ? 1 : (p.x() > width() - kEdge ? 3 : 2);
    const int vertical = p.y() < kEdge ? 10 : (p.y() > height() - kEdge ? 30 : 20);
    m_pressArea = horizontal + vertical;
  }
  event->ignore();
}

void Widget::mouseMoveEvent(QMouseEvent* event) {
  if (m_bMousePressed) {
    if (m_pressArea == kPressInside) move(pos() + event->globalPos() - m_lastMousePos);
    m_lastMousePos = event->globalPos();
  }
  event->ignore();
}

void Widget::mouseReleaseEvent(QMouseEvent* event) {
  m_bMousePressed = false;
  event->ignore();
}

// --- showing and scaling -----------------------------------------------------

void Widget::showEvent(QShowEvent* event) {
  m_widgetScaler.recordBaseSize(width(), height(), this);
  CBaseWgt::showEvent(event);
  if (m_bFirstShow) {
    m_bFirstShow = false;
    centerWindow();
  }
}

void Widget::onDpiChanged() {
  setStyleSheet(QString());
  loadScaledStyle(QStringLiteral(":/qss/qss/tandeo"));
  m_widgetScaler.applyScale(m_fStretchFactor, this);
}
