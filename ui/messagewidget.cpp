#include "ui/messagewidget.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace {

constexpr int kShowMs = 3000;

}  // namespace

CMessageWidget::CMessageWidget(QWidget* parent)
    : CBaseWgt(nullptr), m_text(nullptr), m_timer(nullptr), m_layout(nullptr), m_parentWidget(parent) {
  setWindowFlags(windowFlags() | Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  setAttribute(Qt::WA_TranslucentBackground);

  m_text = new QLabel(this);
  m_text->setObjectName(QStringLiteral("m_text"));
  m_text->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  m_text->setText(QStringLiteral("已发送共享"));
  m_text->setAlignment(Qt::AlignCenter);
  m_layout = new QGridLayout(this);
  m_layout->setSpacing(0);
  m_layout->setContentsMargins(0, 0, 0, 0);
  m_layout->addWidget(m_text, 0, 0);
  setFixedSize(170, 50);

  m_timer = new QTimer;
  m_timer->setInterval(kShowMs);
  connect(m_timer, SIGNAL(timeout()), this, SLOT(slot_Timer()));
}

CMessageWidget::~CMessageWidget() {
  m_timer->stop();
  delete m_timer;
}

void CMessageWidget::showTip(bool show) {
  if (show) {
    m_timer->start();
    this->show();
  } else {
    m_timer->stop();
    hide();
  }
}

void CMessageWidget::slot_Timer() {
  m_timer->stop();
  hide();
}

// Only the label's rounded, translucent background is to be seen.
void CMessageWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), QColor(255, 255, 255, 0));
}

void CMessageWidget::showEvent(QShowEvent* event) {
  m_widgetScaler.recordBaseSize(width(), height(), this);
  CBaseWgt::showEvent(event);
  placeBesideOwner();
}

void CMessageWidget::placeBesideOwner() {
  if (!m_parentWidget) {
    centerWindow();
    return;
  }
  // Right under the owner, centred on it, so that it hides none of the
  // owner's lines; above it when the screen ends first, and over its top
  // as a last resort.
  move(m_parentWidget->pos());
  QScreen* screen = getDisplayScreen();
  const QRect owner = m_parentWidget->frameGeometry();
  const QRect room = screen ? screen->availableGeometry() : owner;
  const int x = owner.center().x() - width() / 2;
  int y = owner.bottom() + 1;
  if (y + height() > room.bottom() + 1) y = owner.top() - height();
  if (y < room.top()) y = owner.top();
  move(x, y);
}

void CMessageWidget::onDpiChanged() {
  setStyleSheet(QString());
  loadScaledStyle(QStringLiteral(":/qss/qss/message-widget"));
  m_widgetScaler.applyScale(m_fStretchFactor, this);
}
