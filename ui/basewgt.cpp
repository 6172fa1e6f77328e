#include "ui/basewgt.h"

#include <QDebug>
#include <QScreen>
#include <QShowEvent>

#include "platform/window_message.h"
#include "ui/dpisupport.h"
#include "ui/generalutils.h"

CBaseWgt::CBaseWgt(QWidget* parent) : QWidget(parent), m_fStretchFactor(0.0), m_dpi(0) {
  setWindowFlags(Qt::FramelessWindowHint);
  setAttribute(Qt::WA_MouseTracking);
}

CBaseWgt::~CBaseWgt() = default;

void CBaseWgt::showEvent(QShowEvent* event) {
  QScreen* screen = getDisplayScreen();
  if (!screen) {
    qWarning() << "CBaseWgt::showEvent" << __LINE__ << "Can not get valid screen";
    return;
  }
  updateDpi(static_cast<int>(screen->logicalDotsPerInchX()));
  dpi::followScreen(this, [this](int value) { updateDpi(value); });
  QWidget::showEvent(event);
}

// Windows tells a window of a new DPI with WM_DPICHANGED; X11 has no such
// message: the screen signals wired up by dpi::followScreen() reach
// updateDpi() instead.
bool CBaseWgt::nativeEvent(const QByteArray& eventType, void* message, long* result) {
  int dpi = 0;
  if (plat::dpiChangedMessage(eventType.constData(), message, &dpi)) {
    qInfo() << "CBaseWgt::nativeEvent" << __LINE__ << "WM_DPICHANGED:" << dpi;
    updateDpi(dpi);
  }
  return QWidget::nativeEvent(eventType, message, result);
}

void CBaseWgt::onDpiChanged() { qInfo() << "CBaseWgt::onDpiChanged" << __LINE__; }

QScreen* CBaseWgt::getDisplayScreen() { return dpi::displayScreen("CBaseWgt", this); }

void CBaseWgt::centerWindow() { dpi::centerWindow("CBaseWgt", this); }

void CBaseWgt::updateDpi(int dpi) {
  if (dpi::updateDpi("CBaseWgt", this, dpi, m_dpi, m_fStretchFactor)) onDpiChanged();
}

void CBaseWgt::loadScaledStyle(const QString& baseName) {
  CGeneralUtils::setStyle(this, dpi::scaledStyleFiles(baseName, m_fStretchFactor));
}
