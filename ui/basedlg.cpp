#include "ui/basedlg.h"

#include <QDebug>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "platform/window_message.h"
#include "ui/dpisupport.h"
#include "ui/generalutils.h"

CBaseDlg::CBaseDlg(QWidget* parent) : QDialog(parent), m_fStretchFactor(0.0), m_dpi(0) {
  setWindowFlags(Qt::FramelessWindowHint);
  setAttribute(Qt::WA_MouseTracking);
}

CBaseDlg::~CBaseDlg() = default;

void CBaseDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return;
  QDialog::keyPressEvent(event);
}

void CBaseDlg::showEvent(QShowEvent* event) {
  QScreen* screen = getDisplayScreen();
  if (!screen) {
    qWarning() << "CBaseDlg::showEvent" << __LINE__ << "Can not get valid screen";
    return;
  }
  updateDpi(static_cast<int>(screen->logicalDotsPerInchX()));
  dpi::followScreen(this, [this](int value) { updateDpi(value); });
  QDialog::showEvent(event);
}

// See CBaseWgt::nativeEvent: WM_DPICHANGED on Windows; on X11 the screen
// signals take the place of the DPI-change message.
bool CBaseDlg::nativeEvent(const QByteArray& eventType, void* message, long* result) {
  int dpi = 0;
  if (plat::dpiChangedMessage(eventType.constData(), message, &dpi)) {
    qInfo() << "CBaseDlg::nativeEvent" << __LINE__ << "WM_DPICHANGED:" << dpi;
    updateDpi(dpi);
  }
  return QDialog::nativeEvent(eventType, message, result);
}

void CBaseDlg::onDpiChanged() { qInfo() << "CBaseDlg::onDpiChanged" << __LINE__; }

void CBaseDlg::clearButtonDefaults() {
  const auto buttons = findChildren<QPushButton*>();
  for (QPushButton* button : buttons) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
}

QScreen* CBaseDlg::getDisplayScreen() { return dpi::displayScreen("CBaseDlg", this); }

void CBaseDlg::centerWindow() { dpi::centerWindow("CBaseDlg", this); }

void CBaseDlg::updateDpi(int dpi) {
  if (dpi::updateDpi("CBaseDlg", this, dpi, m_dpi, m_fStretchFactor)) onDpiChanged();
}

void CBaseDlg::loadScaledStyle(const QString& baseName) {
  CGeneralUtils::setStyle(this, dpi::scaledStyleFiles(baseName, m_fStretchFactor));
}
