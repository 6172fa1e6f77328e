#pragma once
// Base of the modal frameless dialogs: the same screen, DPI and style sheet
// handling as CBaseWgt, and Escape does not close the dialog.

#include <QDialog>
#include <QString>

class QScreen;

class CBaseDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CBaseDlg(QWidget* parent = nullptr);
  ~CBaseDlg() override;

  void centerWindow();
  QScreen* getDisplayScreen();
  void updateDpi(int dpi);
  // Loads baseName.qss followed by baseName-<factor>x.qss.
  void loadScaledStyle(const QString& baseName);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
  virtual void onDpiChanged();

 public:
  // No push button of the dialog is default or auto-default afterwards.
  virtual void clearButtonDefaults();

 protected:
  double m_fStretchFactor;
  int m_dpi;
};
