#pragma once
// The main window: an address page to pair with a device and a sharing page
// to start and stop sharing the screen. It holds no session logic; each user
// command becomes a signal to the session manager, and the manager's result
// signals come back to the slots below, which change the window's state.

#include <QPoint>
#include <QStringList>

#include "ui/basewgt.h"
#include "ui/widgetscaler.h"

class CMessageWidget;

namespace Ui {
class mainWidget;
}

class Widget : public CBaseWgt {
  Q_OBJECT

 public:
  enum UiState {
    UI_STATE_READY = 0,
    UI_STATE_CONNECTING = 1,
    UI_STATE_CONNECTED = 2,
    UI_STATE_SEND_STARTING = 3,
    UI_STATE_SENDING = 4,
    UI_STATE_SEND_STOPPING = 5,
  };

  explicit Widget(QWidget* parent = nullptr);
  ~Widget() override;

  int uiState() const { return m_uiState; }
  // Shown, restored if minimised, raised and activated (a second start).
  void bringToFront();

 signals:
  void signal_connect(QString);
  // Pairing again, with the password the user gave after a refusal.
  void signal_connect_password(QString, QString);
  // The user picked the monitor to share (by its name).
  void signal_choose_screen(QString);
  void signal_disconnect();
  void signal_send();
  void signal_stopsend();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void onDpiChanged() override;

 private slots:
  void on_pBt_min_clicked();
  void on_pBt_close_clicked();
  void on_pBt_connect_clicked();
  void on_pBt_disconnect_clicked();
  void on_toolbt_send_clicked(bool checked);
  void slot_connect_succeed();
  void slot_connect_failed();
  void slot_disconnect_succeed();
  void slot_disconnect_failed();
  void slot_send_succeed();
  void slot_send_failed();
  void slot_stopsend_succeed();
  void slot_stopsend_failed();
  void slot_connect_rejected(int iCode);
  void slot_connect_timeout();
  void slot_connect_closed();
  void slot_screens_changed();
  void on_comboBox_screen_activated(int index);
  void slot_capture_refused();

 private:
  // The monitor list of the sharing page: shown only with more than one.
  void updateScreenChoice();
  void initUi();
  void updateUiState();
  void setUiState(int state);
  void information(const QString& text);
  // After a refusal that asks for a password: the dialog, then a new
  // attempt with the password, or back to the address page.
  void askPassword(const QString& notice);

  Ui::mainWidget* ui;
  QStringList m_recentAddresses;
  int m_uiState;
  CWidgetScaler m_widgetScaler;
  CMessageWidget* m_messageWidget;
  bool m_bFirstShow;
  bool m_bMousePressed;
  int m_pressArea;
  QPoint m_lastMousePos;
  // The address of the pairing attempt under way, as sent to the manager:
  // the address box may be edited while the attempt runs.
  QString m_connectingAddress;
  // Whether that attempt carried a password (a refusal then means a wrong one).
  bool m_attemptHadPassword = false;
};
