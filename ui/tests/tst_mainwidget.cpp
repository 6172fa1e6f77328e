// The main window on its own: its texts, states, recent addresses, toast,
// close box and dragging. Its commands are cut off from the session manager
// and watched instead; the manager's results are delivered by name, as the
// manager's signals would.

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "app/save_datafile.h"
#include "app/tandeo_mgr.h"
#include "mainwindowprobe.h"

namespace {

void deliver(Widget* w, const char* slot) { QVERIFY(QMetaObject::invokeMethod(w, slot)); }

}  // namespace

class MainWidgetTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<StrayBoxGuard> guard_;

  std::unique_ptr<Widget> newWindow(const QStringList& stored) {
    CSaveDatafile::instance()->writeMeetingNumbers(stored);
    auto w = std::make_unique<Widget>();
    QObject::disconnect(w.get(), nullptr, TandeoMgr::instance(), nullptr);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get())) qWarning("main window not exposed");
    return w;
  }

 private slots:
  void init() { guard_ = std::make_unique<StrayBoxGuard>(); }
  void cleanup() {
    const QStringList strays = guard_->closed();
    guard_.reset();
    QVERIFY2(strays.isEmpty(), qPrintable(QStringLiteral("unanswered box: ") + strays.join(QLatin1Char(','))));
  }

  void startsOnTheAddressPage() {
    auto w = newWindow({});
    MainWindowProbe p(w.get());
    QCOMPARE(w->objectName(), QStringLiteral("mainWidget"));
    QCOMPARE(w->size(), QSize(340, 560));
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_READY));
    QCOMPARE(p.page(), QStringLiteral("page_ready"));
    QCOMPARE(p.text("label"), QStringLiteral("输入设备地址, 连接设备开启无线投屏"));
    QCOMPARE(p.addressEdit()->placeholderText(), QStringLiteral("请输入设备IP地址"));
    QCOMPARE(p.connectButton()->text(), QStringLiteral("开始连接"));
    QVERIFY(!p.connectButton()->icon().isNull());
    QCOMPARE(p.disconnectButton()->text(), QStringLiteral("断开连接"));
    QCOMPARE(p.text("label_version"), QStringLiteral("版本号: 2.0.0.22"));
    QVERIFY(p.sendButton()->isCheckable());
    QCOMPARE(p.combo()->count(), 0);
  }

  void blankAddressIsRefused() {
    auto w = newWindow({});
    MainWindowProbe p(w.get());
    QSignalSpy connects(w.get(), SIGNAL(signal_connect(QString)));
    BoxAnswer box("OkYesButton");
    p.type(QStringLiteral("   "));
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    QTRY_VERIFY(box.answered());
    QCOMPARE(box.title(), QStringLiteral("提示"));
    QCOMPARE(box.text(), QStringLiteral("请输入设备地址"));
    QCOMPARE(connects.count(), 0);
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_READY));
  }

  void everyStateShowsItself() {
    auto w = newWindow({});
    MainWindowProbe p(w.get());
    QSignalSpy connects(w.get(), SIGNAL(signal_connect(QString)));
    QSignalSpy sends(w.get(), SIGNAL(signal_send()));
    QSignalSpy stops(w.get(), SIGNAL(signal_stopsend()));
    QSignalSpy disconnects(w.get(), SIGNAL(signal_disconnect()));

    p.type(QStringLiteral(" 10.1.2.3 "));
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    QCOMPARE(connects.count(), 1);
    QCOMPARE(connects.at(0).at(0).toString(), QStringLiteral("10.1.2.3"));
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_CONNECTING));
    QVERIFY(MainWindowProbe::busy(p.connectButton()));
    // The button stays usable while the attempt runs.
    QVERIFY(p.connectButton()->isEnabled());

    deliver(w.get(), "slot_connect_succeed");
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_CONNECTED));
    QCOMPARE(p.page(), QStringLiteral("page_run"));
    QCOMPARE(p.text("label_show"), QStringLiteral("已连接设备 10.1.2.3"));
    QCOMPARE(p.text("label_sendtips"), QStringLiteral("开始发送"));

    // Send, then press again before the device confirmed: stopping.
    QTest::mouseClick(p.sendButton(), Qt::LeftButton);
    QCOMPARE(sends.count(), 1);
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_SEND_STARTING));
    QCOMPARE(p.text("label_sendtips"), QStringLiteral("发送中"));
    QVERIFY(MainWindowProbe::busy(p.sendButton()));
    QTest::mouseClick(p.sendButton(), Qt::LeftButton);
    QCOMPARE(stops.count(), 1);
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_SEND_STOPPING));
    QCOMPARE(p.text("label_sendtips"), QStringLiteral("停止发送中"));
    QVERIFY(MainWindowProbe::busy(p.sendButton()));
    deliver(w.get(), "slot_stopsend_succeed");
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_CONNECTED));
    QVERIFY(!p.sendButton()->isChecked());
    QVERIFY(!MainWindowProbe::busy(p.sendButton()));

    // Sharing confirmed twice: one toast, shown each time.
    QTest::mouseClick(p.sendButton(), Qt::LeftButton);
    deliver(w.get(), "slot_send_succeed");
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_SENDING));
    QCOMPARE(p.text("label_sendtips"), QStringLiteral("停止发送"));
    QVERIFY(p.sendButton()->isChecked());
    QVERIFY(MainWindowProbe::toastVisible());
    deliver(w.get(), "slot_send_succeed");
    QCOMPARE(MainWindowProbe::toastCount(), 1);

    // A failed send goes back to connected after its box.
    BoxAnswer failed("OkYesButton");
    deliver(w.get(), "slot_send_failed");
    QVERIFY(failed.answered());
    QCOMPARE(failed.text(), QStringLiteral("发送失败"));
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_CONNECTED));

    QTest::mouseClick(p.disconnectButton(), Qt::LeftButton);
    QCOMPARE(disconnects.count(), 1);
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_READY));
    QCOMPARE(p.page(), QStringLiteral("page_ready"));
    QVERIFY(!MainWindowProbe::busy(p.connectButton()));
  }

  void resultsWithoutAStateChange() {
    auto w = newWindow({});
    MainWindowProbe p(w.get());
    deliver(w.get(), "slot_connect_succeed");  // empty address: not stored
    QCOMPARE(CSaveDatafile::instance()->readMeetingNumbers(), QStringList());
    QTest::mouseClick(p.sendButton(), Qt::LeftButton);
    deliver(w.get(), "slot_send_succeed");

    BoxAnswer stopFailed("OkYesButton");
    deliver(w.get(), "slot_stopsend_failed");
    QCOMPARE(stopFailed.text(), QStringLiteral("停止发送失败"));
    QCOMPARE(p.text("label_sendtips"), QStringLiteral("停止发送"));
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_SENDING));

    BoxAnswer disconnectFailed("OkYesButton");
    deliver(w.get(), "slot_disconnect_failed");
    QCOMPARE(disconnectFailed.text(), QStringLiteral("断开连接失败"));
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_SENDING));

    deliver(w.get(), "slot_disconnect_succeed");
    QCOMPARE(p.page(), QStringLiteral("page_ready"));
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_SENDING));
  }

  void pairingFailedDialogIsModal() {
    auto w = newWindow({});
    QString shown;
    QTimer::singleShot(200, [&] {
      if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        shown = QString::fromLatin1(d->metaObject()->className());
        d->done(QDialog::Accepted);
      }
    });
    deliver(w.get(), "slot_connect_failed");
    QCOMPARE(shown, QStringLiteral("CConnectErrorDlg"));
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_READY));
  }

  // Newest first in the store; empty entries are not listed; a new address
  // goes to the end of this run's list; letter case makes a new address.
  void recentAddresses() {
    auto w = newWindow({QStringLiteral("b.example"), QString(), QStringLiteral("a.example")});
    MainWindowProbe p(w.get());
    QCOMPARE(p.combo()->count(), 2);
    QCOMPARE(p.combo()->itemText(0), QStringLiteral("b.example"));
    QCOMPARE(p.combo()->itemText(1), QStringLiteral("a.example"));
    QCOMPARE(p.combo()->currentText(), QStringLiteral("b.example"));

    p.type(QStringLiteral(" a.example "));
    deliver(w.get(), "slot_connect_succeed");
    QCOMPARE(p.combo()->count(), 2);

    QTest::mouseClick(p.disconnectButton(), Qt::LeftButton);
    p.type(QStringLiteral("A.example"));
    deliver(w.get(), "slot_connect_succeed");
    QCOMPARE(p.combo()->count(), 3);
    QCOMPARE(p.combo()->itemText(2), QStringLiteral("A.example"));
    QCOMPARE(CSaveDatafile::instance()->readMeetingNumbers(),
             (QStringList{QStringLiteral("A.example"), QStringLiteral("b.example"), QString(),
                          QStringLiteral("a.example")}));
  }

  // Text typed into the box while an attempt runs is not what was paired.
  void pairedAddressIsTheOneAskedFor() {
    auto w = newWindow({});
    MainWindowProbe p(w.get());
    p.type(QStringLiteral("10.0.0.1"));
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    p.type(QStringLiteral("10.0.0.2"));
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);  // refused by the manager
    deliver(w.get(), "slot_connect_succeed");
    QCOMPARE(p.text("label_show"), QStringLiteral("已连接设备 10.0.0.1"));
    QCOMPARE(CSaveDatafile::instance()->readMeetingNumbers(),
             QStringList{QStringLiteral("10.0.0.1")});
  }

  void closeAsksFirst() {
    auto w = newWindow({});
    MainWindowProbe p(w.get());
    {
      BoxAnswer cancel("CancelNoButton");
      QTest::mouseClick(p.closeButton(), Qt::LeftButton);
      QTRY_VERIFY(cancel.answered());
      QCOMPARE(cancel.text(), QStringLiteral("您确定关闭应用吗？"));
    }
    QTest::qWait(100);
    QVERIFY(w->isVisible());
    {
      BoxAnswer ok("OkYesButton");
      QTest::mouseClick(p.closeButton(), Qt::LeftButton);
      QTRY_VERIFY(ok.answered());
    }
    QTRY_VERIFY(!w->isVisible());
  }

  void lossWhileMinimisedRestoresFirst() {
    auto w = newWindow({});
    MainWindowProbe p(w.get());
    QTest::mouseClick(p.minButton(), Qt::LeftButton);
    QVERIFY(w->isMinimized());
    bool minimisedWhileOpen = true;
    BoxAnswer box("OkYesButton", [&] { minimisedWhileOpen = w->isMinimized(); });
    deliver(w.get(), "slot_connect_closed");
    QVERIFY(box.answered());
    QCOMPARE(box.text(), QStringLiteral("连接关闭"));
    QVERIFY(!minimisedWhileOpen);

    // A second start of the program brings the minimised window back.
    QTest::mouseClick(p.minButton(), Qt::LeftButton);
    QVERIFY(w->isMinimized());
    w->bringToFront();
    QTRY_VERIFY(!w->isMinimized());
    QVERIFY(w->isVisible());
  }

  // Dragged from inside, never from within 3 pixels of an edge.
  void draggedFromInsideOnly() {
    auto w = newWindow({});
    QWidget* picture = w->findChild<QWidget*>(QStringLiteral("wdt_picture"));
    QVERIFY(picture);
    const QPoint start = w->pos();

    auto drag = [&](QPoint at) {
      const QPoint global = w->mapToGlobal(at);
      QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
      QApplication::sendEvent(w.get(), &press);
      QMouseEvent move(QEvent::MouseMove, at + QPoint(30, 20), global + QPoint(30, 20),
                       Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(w.get(), &move);
      QMouseEvent release(QEvent::MouseButtonRelease, at + QPoint(30, 20), global + QPoint(30, 20),
                          Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(w.get(), &release);
    };
    drag(QPoint(2, 200));
    QCOMPARE(w->pos(), start);
    drag(QPoint(170, w->height() - 2));
    QCOMPARE(w->pos(), start);
    drag(picture->mapTo(w.get(), QPoint(50, 50)));
    QCOMPARE(w->pos(), start + QPoint(30, 20));
  }
};

int main(int argc, char** argv) {
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  qputenv("appdata", QFile::encodeName(home.path()));
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  MainWidgetTest test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwidget.moc"
