#include "ui/messageboxdlg.h"

#include <QAbstractButton>
#include <QIcon>
#include <QMouseEvent>
#include <QPushButton>

#include "ui/generalutils.h"
#include "ui/shadow.h"
#include "ui/titledrag.h"
#include "ui_messageboxdlg.h"

namespace {

const QSize kButtonSize(80, 27);

}  // namespace

CMessageBoxDlg::CMessageBoxDlg(QWidget* parent, const QString& title, const QString& text,
                               QDialogButtonBox::StandardButtons buttons,
                               QDialogButtonBox::StandardButton defaultButton)
    : CBaseDlg(nullptr),
      ui(new Ui::MessageBoxDlg),
      m_buttonBox(nullptr),
      m_clickedButton(QDialogButtonBox::NoButton),
      m_parentWidget(parent),
      m_bMousePressed(false) {
  ui->setupUi(this);
  setAttribute(Qt::WA_TranslucentBackground);
  setWindowFlags(windowFlags() | Qt::SubWindow);

  m_buttonBox = new QDialogButtonBox(buttons, this);
  if (QPushButton* button = m_buttonBox->button(defaultButton)) {
    button->setDefault(true);
    button->setFocus(Qt::OtherFocusReason);
  }
  ui->label_title->setText(title);
  ui->m_alertContent->setText(text);
  initUi();
}

CMessageBoxDlg::~CMessageBoxDlg() { delete ui; }

void CMessageBoxDlg::initUi() {
  // Text-only buttons: some platform styles give standard buttons icons.
  const auto buttons = m_buttonBox->buttons();
  for (QAbstractButton* button : buttons) {
    button->setFixedSize(kButtonSize);
    button->setIcon(QIcon());
  }

  QPushButton* positive = m_buttonBox->button(QDialogButtonBox::Ok);
  if (positive) {
    positive->setText(QStringLiteral("确定"));
  } else if ((positive = m_buttonBox->button(QDialogButtonBox::Yes))) {
    positive->setText(QStringLiteral("是"));
  }
  if (positive) positive->setObjectName(QStringLiteral("OkYesButton"));

  QPushButton* negative = m_buttonBox->button(QDialogButtonBox::Cancel);
  if (negative) {
    negative->setText(QStringLiteral("取消"));
  } else if ((negative = m_buttonBox->button(QDialogButtonBox::No))) {
    negative->setText(QStringLiteral("否"));
  }
  if (negative) negative->setObjectName(QStringLiteral("CancelNoButton"));

  if (auto* bottom = qobject_cast<QHBoxLayout*>(ui->widget_bottom->layout()))
    bottom->insertWidget(1, m_buttonBox);
  CGeneralUtils::setStyle(this, QStringLiteral(":/qss/qss/message-box.qss"));
  addFrameShadow(ui->mainFrame);
  connect(m_buttonBox, SIGNAL(clicked(QAbstractButton*)), this,
          SLOT(onButtonClicked(QAbstractButton*)));
}

void CMessageBoxDlg::onButtonClicked(QAbstractButton* button) {
  m_clickedButton = m_buttonBox->standardButton(button);
  accept();
}

QDialogButtonBox::StandardButton CMessageBoxDlg::run(CMessageBoxDlg& box) {
  if (box.exec() == QDialog::Accepted) return box.m_clickedButton;
  return QDialogButtonBox::Cancel;
}

QDialogButtonBox::StandardButton CMessageBoxDlg::information(QWidget* parent, const QString& title,
                                                             const QString& text) {
  CMessageBoxDlg box(parent, title, text, QDialogButtonBox::Ok, QDialogButtonBox::NoButton);
  return run(box);
}

QDialogButtonBox::StandardButton CMessageBoxDlg::question(
    QWidget* parent, const QString& title, const QString& text,
    QDialogButtonBox::StandardButtons buttons, QDialogButtonBox::StandardButton defaultButton) {
  CMessageBoxDlg box(parent, title, text, buttons, defaultButton);
  return run(box);
}

void CMessageBoxDlg::showEvent(QShowEvent* event) {
  m_widgetScaler.recordBaseSize(width(), height(), this);
  CBaseDlg::showEvent(event);
  // A new style sheet makes the button box lay its buttons out afresh,
  // hiding them for a moment, which takes the focus off the default button.
  const auto buttons = m_buttonBox->buttons();
  for (QAbstractButton* button : buttons) {
    auto* push = qobject_cast<QPushButton*>(button);
    if (push && push->isDefault()) push->setFocus(Qt::OtherFocusReason);
  }
  // Appear on the owner's screen: start from the owner, then centre there.
  if (m_parentWidget) move(m_parentWidget->pos());
  centerWindow();
}

void CMessageBoxDlg::onDpiChanged() {
  setStyleSheet(QString());
  loadScaledStyle(QStringLiteral(":/qss/qss/message-box"));
  m_widgetScaler.applyScale(m_fStretchFactor, this);
}

void CMessageBoxDlg::mousePressEvent(QMouseEvent* event) {
  titledrag::press(event, ui->widget_title, this, m_bMousePressed, m_lastMousePos);
  CBaseDlg::mousePressEvent(event);
}

void CMessageBoxDlg::mouseMoveEvent(QMouseEvent* event) {
  titledrag::move(event, this, m_bMousePressed, m_lastMousePos);
  CBaseDlg::mouseMoveEvent(event);
}

void CMessageBoxDlg::mouseReleaseEvent(QMouseEvent* event) {
  m_bMousePressed = false;
  CBaseDlg::mouseReleaseEvent(event);
}
