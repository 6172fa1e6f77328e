#pragma once
// The modal message box: a title, a text and OK/Yes and Cancel/No buttons.
// information() and question() run one and return the button that closed it.

#include <QDialogButtonBox>
#include <QPoint>
#include <QString>

#include "ui/basedlg.h"
#include "ui/widgetscaler.h"

class QAbstractButton;

namespace Ui {
class MessageBoxDlg;
}

class CMessageBoxDlg : public CBaseDlg {
  Q_OBJECT

 public:
  // `parent` is the owning window, whose screen the box appears on; the box
  // itself is a top-level window without a Qt parent.
  CMessageBoxDlg(QWidget* parent, const QString& title, const QString& text,
                 QDialogButtonBox::StandardButtons buttons = QDialogButtonBox::Ok,
                 QDialogButtonBox::StandardButton defaultButton = QDialogButtonBox::NoButton);
  ~CMessageBoxDlg() override;

  // An OK box; returns OK, or Cancel when the box was closed otherwise.
  static QDialogButtonBox::StandardButton information(QWidget* parent, const QString& title,
                                                      const QString& text);
  // A box with the given buttons; returns the button clicked, or Cancel when
  // the box was closed otherwise.
  static QDialogButtonBox::StandardButton question(
      QWidget* parent, const QString& title, const QString& text,
      QDialogButtonBox::StandardButtons buttons = QDialogButtonBox::Ok | QDialogButtonBox::Cancel,
      QDialogButtonBox::StandardButton defaultButton = QDialogButtonBox::NoButton);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void onDpiChanged() override;

 private slots:
  void onButtonClicked(QAbstractButton* button);

 private:
  void initUi();
  static QDialogButtonBox::StandardButton run(CMessageBoxDlg& box);

  Ui::MessageBoxDlg* ui;
  QDialogButtonBox* m_buttonBox;
  QDialogButtonBox::StandardButton m_clickedButton;
  CWidgetScaler m_widgetScaler;
  QWidget* m_parentWidget;
  bool m_bMousePressed;
  QPoint m_lastMousePos;
};
