#pragma once
// The modal password dialog: the device refused a pairing for want of the
// right password. The password is handed back to the caller only; nothing
// keeps it.

#include <QPoint>

#include "ui/basedlg.h"
#include "ui/widgetscaler.h"

namespace Ui {
class PasswordDlg;
}

class CPasswordDlg : public CBaseDlg {
  Q_OBJECT

 public:
  // `parent` is the owning window; `notice` says why the password is asked for.
  CPasswordDlg(QWidget* parent, const QString& notice);
  ~CPasswordDlg() override;

  QString password() const;

  // Runs the dialog; true with the password when the user confirmed one.
  static bool getPassword(QWidget* parent, const QString& notice, QString* password);

  // The session takes at most this many bytes of password (UTF-8).
  static constexpr int kMaxPasswordBytes = 63;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void onDpiChanged() override;

 private slots:
  void onTextEdited(const QString& text);

 private:
  void initUi(const QString& notice);

  Ui::PasswordDlg* ui;
  CWidgetScaler m_widgetScaler;
  QWidget* m_parentWidget;
  bool m_bMousePressed;
  QPoint m_lastMousePos;
};
