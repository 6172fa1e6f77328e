#pragma once
// Base of the plain frameless windows (the main window and the toast): finds
// its screen, follows that screen's DPI to a stretch factor of 1, 1.5 or 2
// and lets the concrete window restyle and rescale itself in onDpiChanged().

#include <QString>
#include <QWidget>

class QScreen;

class CBaseWgt : public QWidget {
 public:
  explicit CBaseWgt(QWidget* parent = nullptr);
  ~CBaseWgt() override;

  void centerWindow();
  QScreen* getDisplayScreen();
  void updateDpi(int dpi);
  // Loads baseName.qss followed by baseName-<factor>x.qss.
  void loadScaledStyle(const QString& baseName);

 protected:
  void showEvent(QShowEvent* event) override;
  bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
  virtual void onDpiChanged();

  double m_fStretchFactor;
  int m_dpi;
};
