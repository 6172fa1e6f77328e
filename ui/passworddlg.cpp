#include "ui/passworddlg.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

#include "ui/generalutils.h"
#include "ui/shadow.h"
#include "ui/titledrag.h"
#include "ui_passworddlg.h"

CPasswordDlg::CPasswordDlg(QWidget* parent, const QString& notice)
    : CBaseDlg(nullptr), ui(new Ui::PasswordDlg), m_parentWidget(parent), m_bMousePressed(false) {
  ui->setupUi(this);
  setAttribute(Qt::WA_TranslucentBackground);
  setWindowFlags(windowFlags() | Qt::SubWindow);
  initUi(notice);
}

CPasswordDlg::~CPasswordDlg() {
  ui->lineEdit_password->clear();
  delete ui;
}

void CPasswordDlg::initUi(const QString& notice) {
  ui->label_title->setText(QStringLiteral("输入密码"));
  ui->label_tips->setText(notice);
  ui->lineEdit_password->setPlaceholderText(QStringLiteral("请输入设备密码"));
  ui->pBt_ok->setText(QStringLiteral("确定"));
  ui->pBt_cancel->setText(QStringLiteral("取消"));
  ui->pBt_ok->setEnabled(false);
  CGeneralUtils::setStyle(this, QStringLiteral(":/qss/qss/password-dlg.qss"));
  addFrameShadow(ui->mainFrame);
  connect(ui->pBt_ok, SIGNAL(clicked()), this, SLOT(accept()));
  connect(ui->pBt_cancel, SIGNAL(clicked()), this, SLOT(reject()));
  connect(ui->lineEdit_password, SIGNAL(textEdited(QString)), this, SLOT(onTextEdited(QString)));
  // Enter in the field confirms (the base clears the buttons' defaults).
  connect(ui->lineEdit_password, &QLineEdit::returnPressed, this, [this] {
    if (ui->pBt_ok->isEnabled()) accept();
  });
  ui->lineEdit_password->setFocus(Qt::OtherFocusReason);
}

QString CPasswordDlg::password() const { return ui->lineEdit_password->text(); }

void CPasswordDlg::onTextEdited(const QString& text) {
  // The limit is the session's, in bytes: a longer password is cut to fit
  // here, where the user sees it, never silently later.
  QString fitted = text;
  while (fitted.toUtf8().size() > kMaxPasswordBytes) fitted.chop(1);
  if (fitted != text) ui->lineEdit_password->setText(fitted);
  ui->pBt_ok->setEnabled(!fitted.isEmpty());
}

bool CPasswordDlg::getPassword(QWidget* parent, const QString& notice, QString* password) {
  CPasswordDlg dialog(parent, notice);
  if (dialog.exec() != QDialog::Accepted) return false;
  *password = dialog.password();
  return !password->isEmpty();
}

void CPasswordDlg::showEvent(QShowEvent* event) {
  m_widgetScaler.recordBaseSize(width(), height(), this);
  CBaseDlg::showEvent(event);
  if (m_parentWidget) move(m_parentWidget->pos());
  centerWindow();
  activateWindow();
  ui->lineEdit_password->setFocus(Qt::OtherFocusReason);
}

void CPasswordDlg::onDpiChanged() {
  setStyleSheet(QString());
  loadScaledStyle(QStringLiteral(":/qss/qss/password-dlg"));
  m_widgetScaler.applyScale(m_fStretchFactor, this);
}

void CPasswordDlg::mousePressEvent(QMouseEvent* event) {
  titledrag::press(event, ui->widget_title, this, m_bMousePressed, m_lastMousePos);
  CBaseDlg::mousePressEvent(event);
}

void CPasswordDlg::mouseMoveEvent(QMouseEvent* event) {
  titledrag::move(event, this, m_bMousePressed, m_lastMousePos);
  CBaseDlg::mouseMoveEvent(event);
}

void CPasswordDlg::mouseReleaseEvent(QMouseEvent* event) {
  m_bMousePressed = false;
  CBaseDlg::mouseReleaseEvent(event);
}
