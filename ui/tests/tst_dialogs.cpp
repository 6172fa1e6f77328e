// The message box, the pairing-failed dialog and the toast, driven the way
// a user would: clicks and keys while the modal loop runs.

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <functional>

#include "ui/connecterrordlg.h"
#include "ui/messageboxdlg.h"
#include "ui/messagewidget.h"
#include "uitestmain.h"

namespace {

const QString kTitle = QStringLiteral("提示");

// Runs `act` on the modal dialog as soon as it is up (bounded wait).
void whenModal(const std::function<void(QDialog*)>& act) {
  auto* poll = new QTimer;
  auto* clock = new QElapsedTimer;
  clock->start();
  QObject::connect(poll, &QTimer::timeout, [poll, clock, act] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog && dialog->isVisible()) {
      poll->stop();
      act(dialog);
    } else if (clock->elapsed() > 5000) {
      poll->stop();
      qCritical("no modal dialog appeared");
      QApplication::closeAllWindows();
    } else {
      return;
    }
    poll->deleteLater();
    delete clock;
  });
  poll->start(10);
}

QPushButton* button(QDialog* dialog, const char* name) {
  return dialog->findChild<QPushButton*>(QLatin1String(name));
}

void click(QDialog* dialog, const char* name) {
  QPushButton* b = button(dialog, name);
  if (!b) {
    qCritical("no button %s", name);
    dialog->done(QDialog::Rejected);
    return;
  }
  QTest::mouseClick(b, Qt::LeftButton);
}

QPoint centreOfAvailable(const QWidget* w) {
  return QGuiApplication::screenAt(w->geometry().center())->availableGeometry().center();
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
  QMouseEvent event(type, w->mapFromGlobal(global), global,
                    type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                    Qt::NoModifier);
  QApplication::sendEvent(w, &event);
}

// Press at `from`, move by `delta`, release; returns how far the dialog went.
QPoint drag(QWidget* dialog, QPoint from, QPoint delta) {
  QPoint before = dialog->pos();
  sendMouse(dialog, QEvent::MouseButtonPress, from, Qt::LeftButton);
  sendMouse(dialog, QEvent::MouseMove, from + delta / 2, Qt::LeftButton);
  sendMouse(dialog, QEvent::MouseMove, from + delta, Qt::LeftButton);
  sendMouse(dialog, QEvent::MouseButtonRelease, from + delta, Qt::NoButton);
  return dialog->pos() - before;
}

}  // namespace

class TestDialogs : public QObject {
  Q_OBJECT

  QWidget owner_;

 private slots:
  void initTestCase() {
    owner_.resize(340, 560);
    owner_.move(100, 100);
  }

  void informationHasOneOkButton() {
    QStringList texts;
    QString content;
    bool centred = false;
    whenModal([&](QDialog* d) {
      for (QPushButton* b : d->findChildren<QPushButton*>()) texts << b->text();
      content = d->findChild<QLabel*>(QStringLiteral("m_alertContent"))->text();
      centred = (d->geometry().center() - centreOfAvailable(d)).manhattanLength() <= 2;
      click(d, "OkYesButton");
    });
    auto answer = CMessageBoxDlg::information(&owner_, kTitle, QStringLiteral("连接超时"));
    QCOMPARE(answer, QDialogButtonBox::Ok);
    QCOMPARE(texts, QStringList{QStringLiteral("确定")});
    QCOMPARE(content, QStringLiteral("连接超时"));
    QVERIFY(centred);
  }

  // The close confirmation: Cancel left of OK, OK focused, Enter answers OK.
  void closeConfirmation() {
    bool cancelLeftOfOk = false;
    bool okFocused = false;
    QString okText, cancelText;
    whenModal([&](QDialog* d) {
      QPushButton* ok = button(d, "OkYesButton");
      QPushButton* cancel = button(d, "CancelNoButton");
      okText = ok->text();
      cancelText = cancel->text();
      cancelLeftOfOk = cancel->mapTo(d, QPoint()).x() < ok->mapTo(d, QPoint()).x();
      okFocused = d->focusWidget() == ok && ok->isDefault();
      QTest::keyClick(d, Qt::Key_Return);
    });
    auto answer = CMessageBoxDlg::question(&owner_, kTitle, QStringLiteral("您确定关闭应用吗？"),
                                           QDialogButtonBox::Ok | QDialogButtonBox::Cancel,
                                           QDialogButtonBox::Ok);
    QCOMPARE(answer, QDialogButtonBox::Ok);
    QCOMPARE(okText, QStringLiteral("确定"));
    QCOMPARE(cancelText, QStringLiteral("取消"));
    QVERIFY(cancelLeftOfOk);
    QVERIFY(okFocused);

    whenModal([](QDialog* d) { click(d, "CancelNoButton"); });
    QCOMPARE(CMessageBoxDlg::question(&owner_, kTitle, QStringLiteral("您确定关闭应用吗？"),
                                      QDialogButtonBox::Ok | QDialogButtonBox::Cancel,
                                      QDialogButtonBox::Ok),
             QDialogButtonBox::Cancel);
  }

  void yesAndNo() {
    QString yes, no;
    whenModal([&](QDialog* d) {
      yes = button(d, "OkYesButton")->text();
      no = button(d, "CancelNoButton")->text();
      click(d, "CancelNoButton");
    });
    auto buttons = QDialogButtonBox::Yes | QDialogButtonBox::No;
    QCOMPARE(CMessageBoxDlg::question(&owner_, kTitle, QStringLiteral("继续？"), buttons),
             QDialogButtonBox::No);
    QCOMPARE(yes, QStringLiteral("是"));
    QCOMPARE(no, QStringLiteral("否"));
    whenModal([](QDialog* d) { click(d, "OkYesButton"); });
    QCOMPARE(CMessageBoxDlg::question(&owner_, kTitle, QStringLiteral("继续？"), buttons),
             QDialogButtonBox::Yes);
  }

  // Escape is swallowed; closing other than by a button answers Cancel.
  void otherWaysOfClosingAnswerCancel() {
    bool stillOpen = false;
    whenModal([&](QDialog* d) {
      QTest::keyClick(d, Qt::Key_Escape);
      stillOpen = d->isVisible();
      d->close();
    });
    QCOMPARE(CMessageBoxDlg::information(&owner_, kTitle, QStringLiteral("发送失败")),
             QDialogButtonBox::Cancel);
    QVERIFY(stillOpen);
  }

  // Rescaled with the window: 80 x 27 buttons become 120 x 40 at 1.5, and
  // back again at 1.
  void messageBoxScales() {
    CMessageBoxDlg box(&owner_, kTitle, QStringLiteral("文本"),
                       QDialogButtonBox::Ok | QDialogButtonBox::Cancel, QDialogButtonBox::Ok);
    box.show();
    box.updateDpi(96);
    QPushButton* ok = button(&box, "OkYesButton");
    QCOMPARE(ok->size(), QSize(80, 27));
    QCOMPARE(box.size(), QSize(390, 200));
    box.updateDpi(144);
    QCOMPARE(ok->maximumSize(), QSize(120, 40));
    QCOMPARE(button(&box, "CancelNoButton")->maximumSize(), QSize(120, 40));
    QCOMPARE(box.maximumSize(), QSize(585, 300));
    QVERIFY(box.styleSheet().contains(QStringLiteral("#m_alertContent { color: #313131; font-size: 21px; }")));
    box.updateDpi(96);
    QCOMPARE(ok->maximumSize(), QSize(80, 27));
    QCOMPARE(box.maximumSize(), QSize(390, 200));
  }

  void longTextWraps() {
    CMessageBoxDlg box(&owner_, kTitle, QString(40, QChar(0x8fde)));
    auto* label = box.findChild<QLabel*>(QStringLiteral("m_alertContent"));
    QVERIFY(label->wordWrap());
    QCOMPARE(label->maximumSize(), QSize(260, 80));
    box.show();
    QFontMetrics fm(label->font());
    QRect needed = fm.boundingRect(QRect(0, 0, 260, 80), Qt::TextWordWrap, label->text());
    QVERIFY(needed.height() > fm.height());
    QVERIFY(needed.width() <= 260);
  }

  void draggedByTitleOnly() {
    CMessageBoxDlg box(&owner_, kTitle, QStringLiteral("文本"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    auto* title = box.findChild<QWidget*>(QStringLiteral("widget_title"));
    QPoint onTitle = title->mapToGlobal(QPoint(40, 10));
    QCOMPARE(drag(&box, onTitle, QPoint(-30, 25)), QPoint(-30, 25));
    auto* body = box.findChild<QWidget*>(QStringLiteral("widget_vertical"));
    QCOMPARE(drag(&box, body->mapToGlobal(QPoint(40, 10)), QPoint(50, 50)), QPoint());

    CConnectErrorDlg error(&owner_);
    error.show();
    QVERIFY(QTest::qWaitForWindowExposed(&error));
    title = error.findChild<QWidget*>(QStringLiteral("widget_title"));
    QCOMPARE(drag(&error, title->mapToGlobal(QPoint(5, 5)), QPoint(7, -9)), QPoint(7, -9));
    body = error.findChild<QWidget*>(QStringLiteral("widget_bottom"));
    QCOMPARE(drag(&error, body->mapToGlobal(QPoint(5, 5)), QPoint(7, -9)), QPoint());
  }

  void pairingFailedDialog() {
    QString tips, content, ok, title;
    bool centred = false;
    bool escapeIgnored = false;
    whenModal([&](QDialog* d) {
      title = d->findChild<QLabel*>(QStringLiteral("label_title"))->text();
      tips = d->findChild<QLabel*>(QStringLiteral("label_tips"))->text();
      content = d->findChild<QLabel*>(QStringLiteral("label_content"))->text();
      ok = button(d, "pBt_ok")->text();
      centred = (d->geometry().center() - centreOfAvailable(d)).manhattanLength() <= 2;
      QTest::keyClick(d, Qt::Key_Escape);
      escapeIgnored = d->isVisible();
      click(d, "pBt_ok");
    });
    CConnectErrorDlg dialog(&owner_);
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(title, kTitle);
    QCOMPARE(tips, QStringLiteral("配对失败"));
    QCOMPARE(content, QStringLiteral("请确保电脑与设备处于同一网络，\n否则可能配对失败"));
    QCOMPARE(ok, QStringLiteral("确定"));
    QVERIFY(centred);
    QVERIFY(escapeIgnored);
  }

  void toastIsAToolWindowOnTop() {
    CMessageWidget toast(&owner_);
    QCOMPARE(toast.windowType(), Qt::Tool);
    QVERIFY(toast.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(toast.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(toast.findChild<QLabel*>(QStringLiteral("m_text"))->text(), QStringLiteral("已发送共享"));
    toast.showTip(true);
    QVERIFY(toast.isVisible());
    QCOMPARE(toast.size(), QSize(170, 50));
    // Beside its owner, centred on it, covering none of it (the owner's
    // lines stay readable while the toast is up).
    QVERIFY(!toast.frameGeometry().intersects(owner_.frameGeometry()));
    QVERIFY(qAbs(toast.geometry().center().x() - owner_.frameGeometry().center().x()) <= 2);
    toast.showTip(false);
    QVERIFY(!toast.isVisible());
  }

  // Up for three seconds after the last showTip(true).
  void toastHidesAfterThreeSeconds() {
    CMessageWidget toast(&owner_);
    toast.showTip(true);
    QTest::qWait(2000);
    QVERIFY(toast.isVisible());
    toast.showTip(true);  // a second success restarts the three seconds
    QTest::qWait(2000);
    QVERIFY(toast.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!toast.isVisible(), 2500);
    // hidden for good: no second timeout shows or hides anything
    QTest::qWait(100);
    QVERIFY(!toast.isVisible());
  }
};

TANDEO_UI_TEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
