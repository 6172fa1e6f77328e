#include "ui/connecterrordlg.h"

#include <QMouseEvent>

#include "ui/generalutils.h"
#include "ui/shadow.h"
#include "ui/titledrag.h"
#include "ui_connecterrordlg.h"

CConnectErrorDlg::CConnectErrorDlg(QWidget* parent)
    : CBaseDlg(nullptr), ui(new Ui::ConnectErrorDlg), m_parentWidget(parent), m_bMousePressed(false) {
  ui->setupUi(this);
  setAttribute(Qt::WA_TranslucentBackground);
  setWindowFlags(windowFlags() | Qt::SubWindow);
  initUi();
}

CConnectErrorDlg::~CConnectErrorDlg() { delete ui; }

void CConnectErrorDlg::initUi() {
  ui->label_title->setText(QStringLiteral("提示"));
  ui->label_tips->setText(QStringLiteral("配对失败"));
  ui->label_content->setText(QStringLiteral("请确保电脑与设备处于同一网络，\n否则可能配对失败"));
  ui->pBt_ok->setText(QStringLiteral("确定"));
  CGeneralUtils::setStyle(this, QStringLiteral(":/qss/qss/connect-error-dlg.qss"));
  addFrameShadow(ui->mainFrame);
  connect(ui->pBt_ok, SIGNAL(clicked()), this, SLOT(accept()));
}

void CConnectErrorDlg::showEvent(QShowEvent* event) {
  m_widgetScaler.recordBaseSize(width(), height(), this);
  CBaseDlg::showEvent(event);
  if (m_parentWidget) move(m_parentWidget->pos());
  centerWindow();
}

void CConnectErrorDlg::onDpiChanged() {
  setStyleSheet(QString());
  loadScaledStyle(QStringLiteral(":/qss/qss/connect-error-dlg"));
  m_widgetScaler.applyScale(m_fStretchFactor, this);
}

void CConnectErrorDlg::mousePressEvent(QMouseEvent* event) {
  titledrag::press(event, ui->widget_title, this, m_bMousePressed, m_lastMousePos);
  CBaseDlg::mousePressEvent(event);
}

void CConnectErrorDlg::mouseMoveEvent(QMouseEvent* event) {
  titledrag::move(event, this, m_bMousePressed, m_lastMousePos);
  CBaseDlg::mouseMoveEvent(event);
}

void CConnectErrorDlg::mouseReleaseEvent(QMouseEvent* event) {
  m_bMousePressed = false;
  CBaseDlg::mouseReleaseEvent(event);
}
