#pragma once
// The modal "pairing failed" dialog with its fixed advice.

#include <QPoint>

#include "ui/basedlg.h"
#include "ui/widgetscaler.h"

namespace Ui {
class ConnectErrorDlg;
}

class CConnectErrorDlg : public CBaseDlg {
  Q_OBJECT

 public:
  // `parent` is the owning window; the dialog is a top-level window of its own.
  explicit CConnectErrorDlg(QWidget* parent);
  ~CConnectErrorDlg() override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void onDpiChanged() override;

 private:
  void initUi();

  Ui::ConnectErrorDlg* ui;
  CWidgetScaler m_widgetScaler;
  QWidget* m_parentWidget;
  bool m_bMousePressed;
  QPoint m_lastMousePos;
};
