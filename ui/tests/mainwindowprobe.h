#pragma once
// Reaching into the real main window from a test: its controls by object
// name, and answering the modal boxes it opens from inside its slots.

#include <QApplication>
#include <QDialog>
#include <QInputMethodEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

#include "ui/connectpushbutton.h"
#include "ui/joinconfcombo.h"
#include "ui/mainwidget.h"
#include "ui/messageboxdlg.h"
#include "ui/messagewidget.h"
#include "ui/passworddlg.h"
#include "ui/sendtoolbutton.h"

struct MainWindowProbe {
  explicit MainWindowProbe(Widget* w) : window(w) {}

  template <class T>
  T* child(const char* name) const {
    T* found = window->findChild<T*>(QLatin1String(name));
    if (!found) qFatal("main window has no %s", name);
    return found;
  }
  CJoinConfCombo* combo() const { return child<CJoinConfCombo>("comboBox_input"); }
  QLineEdit* addressEdit() const { return child<QLineEdit>("m_comboLineEdit"); }
  CConnectPushbutton* connectButton() const { return child<CConnectPushbutton>("pBt_connect"); }
  CConnectPushbutton* disconnectButton() const {
    return child<CConnectPushbutton>("pBt_disconnect");
  }
  CSendToolbutton* sendButton() const { return child<CSendToolbutton>("toolbt_send"); }
  QPushButton* closeButton() const { return child<QPushButton>("pBt_close"); }
  QPushButton* minButton() const { return child<QPushButton>("pBt_min"); }
  QString text(const char* label) const { return child<QLabel>(label)->text(); }
  QString page() const {
    return child<QStackedWidget>("stackedWidget")->currentWidget()->objectName();
  }
  // The busy animation runs on the button's icon.
  static bool busy(const QAbstractButton* b) {
    return b->findChild<QMovie*>() && b->findChild<QMovie*>()->state() == QMovie::Running;
  }

  void type(const QString& address) const {
    addressEdit()->clear();
    QTest::keyClicks(addressEdit(), address);
  }

  // The toasts of this window that exist (the window creates at most one).
  static int toastCount() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<CMessageWidget*>(w)) ++n;
    return n;
  }
  static bool toastVisible() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<CMessageWidget*>(w) && w->isVisible()) return true;
    return false;
  }

  Widget* window;
};

// Answers the next `count` modal message boxes as soon as each is up: notes
// their titles and texts, runs `inspect` while each is open, then clicks the
// button of that object name ("OkYesButton" or "CancelNoButton"). The boxes
// run their own event loops inside the window's slots (a result arriving
// while one is open opens the next on top of it), so this works from a timer.
class BoxAnswer {
 public:
  explicit BoxAnswer(const char* button, std::function<void()> inspect = {}, int count = 1)
      : button_(QLatin1String(button)), inspect_(std::move(inspect)), count_(count) {
    clock_.start();
    QObject::connect(&poll_, &QTimer::timeout, [this] { check(); });
    poll_.start(10);
  }

  bool answered() const { return texts_.size() >= count_; }
  QString title() const { return titles_.value(0); }
  QString text() const { return texts_.value(0); }
  QStringList texts() const { return texts_; }

 private:
  void check() {
    auto* box = qobject_cast<CMessageBoxDlg*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box == last_) {
      if (clock_.elapsed() > 20000) poll_.stop();
      return;
    }
    last_ = box;
    titles_ << box->findChild<QLabel*>(QStringLiteral("label_title"))->text();
    texts_ << box->findChild<QLabel*>(QStringLiteral("m_alertContent"))->text();
    if (answered()) poll_.stop();
    if (inspect_) inspect_();
    QPushButton* b = box->findChild<QPushButton*>(button_);
    if (b)
      QTest::mouseClick(b, Qt::LeftButton);
    else
      box->done(QDialog::Rejected);
  }

  QString button_;
  std::function<void()> inspect_;
  int count_;
  QTimer poll_;
  QElapsedTimer clock_;
  QPointer<CMessageBoxDlg> last_;
  QStringList titles_;
  QStringList texts_;
};

// Closes any message box that stays open for ten seconds, so that a box no
// case expected fails that case instead of hanging the whole run.
class StrayBoxGuard {
 public:
  StrayBoxGuard() {
    QObject::connect(&poll_, &QTimer::timeout, [this] { check(); });
    poll_.start(100);
  }
  QStringList closed() const { return closed_; }

 private:
  void check() {
    QDialog* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (box != seen_) {
      seen_ = box;
      since_.start();
      return;
    }
    if (box && since_.elapsed() > 10000) {
      QLabel* text = box->findChild<QLabel*>(QStringLiteral("m_alertContent"));
      closed_ << (text ? text->text() : QString::fromLatin1(box->metaObject()->className()));
      box->done(QDialog::Rejected);
    }
  }

  QTimer poll_;
  QPointer<QDialog> seen_;
  QElapsedTimer since_;
  QStringList closed_;
};

// Answers the next password dialogs, one password each (an empty one: the
// user cancels); notes the notice each showed.
class PasswordAnswer {
 public:
  explicit PasswordAnswer(QStringList passwords) : passwords_(std::move(passwords)) {
    QObject::connect(&poll_, &QTimer::timeout, [this] { check(); });
    poll_.start(10);
  }
  bool answered() const { return notices_.size() >= passwords_.size(); }
  QStringList notices() const { return notices_; }

 private:
  void check() {
    auto* dlg = qobject_cast<CPasswordDlg*>(QApplication::activeModalWidget());
    if (!dlg || !dlg->isVisible() || dlg == last_ || answered()) return;
    last_ = dlg;
    const QString password = passwords_.value(notices_.size());
    notices_ << dlg->findChild<QLabel*>(QStringLiteral("label_tips"))->text();
    if (password.isEmpty()) {
      QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("pBt_cancel")), Qt::LeftButton);
      return;
    }
    auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("lineEdit_password"));
    QVERIFY(edit->echoMode() == QLineEdit::Password);
    // Committed the way an input method commits Chinese text.
    QInputMethodEvent commit;
    commit.setCommitString(password);
    QApplication::sendEvent(edit, &commit);
    QTest::keyClick(edit, Qt::Key_Return);
  }

  QStringList passwords_;
  QStringList notices_;
  QTimer poll_;
  QPointer<CPasswordDlg> last_;
};
