#pragma once
// The toast: a small translucent note ("已发送共享") that stays above other
// windows, takes no task-bar entry and hides itself after three seconds.

#include "ui/basewgt.h"
#include "ui/widgetscaler.h"

class QGridLayout;
class QLabel;
class QTimer;

class CMessageWidget : public CBaseWgt {
  Q_OBJECT

 public:
  // `parent` is the owning window; the toast is a top-level window of its own.
  explicit CMessageWidget(QWidget* parent);
  ~CMessageWidget() override;

  // true: show for three seconds (again from now if already shown); false: hide.
  void showTip(bool show);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void onDpiChanged() override;

 private:
  void placeBesideOwner();

 private slots:
  void slot_Timer();

 private:
  QLabel* m_text;
  QTimer* m_timer;
  QGridLayout* m_layout;
  CWidgetScaler m_widgetScaler;
  QWidget* m_parentWidget;
};
