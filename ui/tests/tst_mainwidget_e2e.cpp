// The whole sender in one process: the real main window, its session manager
// and the session library against the reference device on loopback, driven
// through the window's controls like a user would.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <string>

#include "app/log_properties.h"
#include "app/save_datafile.h"
#include "device/device.h"
#include "mainwindowprobe.h"
#include "platform/net.h"

namespace {

// Each case has an address of its own.
const char kShare[] = "127.0.50.1";
const char kReject[] = "127.0.50.2";
const char kFullBacklog[] = "127.0.50.3";
const char kLoss[] = "127.0.50.4";
const char kClose[] = "127.0.50.5";
const QString kNotice = QStringLiteral("提示");

std::unique_ptr<device::Device> startDevice(const char* address,
                                            std::optional<int> reject = std::nullopt) {
  device::DeviceOptions o;
  o.bindAddress = address;
  o.rejectReason = reject;
  o.log = [](const std::string&) {};
  auto d = std::make_unique<device::Device>(o);
  std::string error;
  if (!d->start(&error)) qFatal("device on %s: %s", address, error.c_str());
  return d;
}

}  // namespace

class MainWidgetE2E : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<StrayBoxGuard> guard_;

  std::unique_ptr<Widget> newWindow() {
    auto w = std::make_unique<Widget>();
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get())) qWarning("main window not exposed");
    return w;
  }

  // Pairs the window with the device at address and waits for the sharing page.
  bool pair(MainWindowProbe& p, const char* address) {
    p.type(QLatin1String(address));
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    return QTest::qWaitFor([&] { return p.window->uiState() == Widget::UI_STATE_CONNECTED; },
                           5000);
  }

  // Starts sharing and waits for the device's media.
  bool share(MainWindowProbe& p, device::Device& d) {
    QTest::mouseClick(p.sendButton(), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return p.window->uiState() == Widget::UI_STATE_SENDING; }, 5000))
      return false;
    return QTest::qWaitFor([&] { return d.state().mediaReceived > 5; }, 10000);
  }

 private slots:
  void init() { guard_ = std::make_unique<StrayBoxGuard>(); }
  void cleanup() {
    const QStringList strays = guard_->closed();
    guard_.reset();
    QVERIFY2(strays.isEmpty(), qPrintable(QStringLiteral("unanswered box: ") + strays.join(QLatin1Char(','))));
  }

  // As at start-up; here, once the test runner's own message handler is in.
  void initTestCase() { configureLogSystem(QStringLiteral(TANDEO_LOG_PROPERTIES)); }

  void shareStopAndDisconnect() {
    auto d = startDevice(kShare);
    auto w = newWindow();
    MainWindowProbe p(w.get());

    // Spaces around the address are dropped.
    p.type(QStringLiteral("  ") + QLatin1String(kShare) + QStringLiteral(" "));
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_CONNECTING));
    QVERIFY(MainWindowProbe::busy(p.connectButton()));
    QTRY_COMPARE_WITH_TIMEOUT(w->uiState(), int(Widget::UI_STATE_CONNECTED), 5000);
    QCOMPARE(p.page(), QStringLiteral("page_run"));
    QCOMPARE(p.text("label_show"), QStringLiteral("已连接设备 ") + QLatin1String(kShare));
    QCOMPARE(p.text("label_sendtips"), QStringLiteral("开始发送"));
    QVERIFY(d->state().paired);

    QTest::mouseClick(p.sendButton(), Qt::LeftButton);
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_SEND_STARTING));
    QCOMPARE(p.text("label_sendtips"), QStringLiteral("发送中"));
    QVERIFY(MainWindowProbe::busy(p.sendButton()));
    QTRY_COMPARE_WITH_TIMEOUT(w->uiState(), int(Widget::UI_STATE_SENDING), 5000);
    QCOMPARE(p.text("label_sendtips"), QStringLiteral("停止发送"));
    QVERIFY(p.sendButton()->isChecked());
    QVERIFY(!MainWindowProbe::busy(p.sendButton()));
    QVERIFY(MainWindowProbe::toastVisible());
    QVERIFY(d->waitFor([](const device::DeviceState& s) { return s.mediaReceived > 5; }, 10000));

    QTest::mouseClick(p.sendButton(), Qt::LeftButton);
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_SEND_STOPPING));
    QCOMPARE(p.text("label_sendtips"), QStringLiteral("停止发送中"));
    QTRY_COMPARE_WITH_TIMEOUT(w->uiState(), int(Widget::UI_STATE_CONNECTED), 5000);
    QVERIFY(!p.sendButton()->isChecked());
    QCOMPARE(p.text("label_sendtips"), QStringLiteral("开始发送"));

    // A second share shows the same toast again.
    QVERIFY(share(p, *d));
    QCOMPARE(MainWindowProbe::toastCount(), 1);
    QVERIFY(MainWindowProbe::toastVisible());

    // Disconnect right from sharing: the address page at once, the device
    // sees the connection end, and no box follows.
    QTest::mouseClick(p.disconnectButton(), Qt::LeftButton);
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_READY));
    QCOMPARE(p.page(), QStringLiteral("page_ready"));
    QVERIFY(d->waitFor([](const device::DeviceState& s) { return !s.connected; }, 5000));
    QTest::qWait(300);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_READY));
  }

  // The paired address is stored once, and the next window lists it first.
  void addressRememberedAcrossRestart() {
    auto d = startDevice(kShare);
    {
      auto w = newWindow();
      MainWindowProbe p(w.get());
      QVERIFY(pair(p, kShare));
      QTest::mouseClick(p.disconnectButton(), Qt::LeftButton);
      QVERIFY(pair(p, kShare));  // the same address again
      QTest::mouseClick(p.disconnectButton(), Qt::LeftButton);
    }
    QCOMPARE(CSaveDatafile::instance()->readMeetingNumbers(), QStringList{QLatin1String(kShare)});
    auto w = newWindow();
    MainWindowProbe p(w.get());
    QCOMPARE(p.combo()->count(), 1);
    QCOMPARE(p.combo()->itemText(0), QLatin1String(kShare));
    QCOMPARE(p.combo()->currentText(), QLatin1String(kShare));
    // Picked from the list, it pairs without typing.
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->uiState(), int(Widget::UI_STATE_CONNECTED), 5000);
  }

  // The device refuses and then ends the connection: the refusal's box, and
  // the end of the connection is reported as well.
  void rejectionShowsItsBox() {
    auto d = startDevice(kReject, device::kRejectBusy);
    auto w = newWindow();
    MainWindowProbe p(w.get());
    int stateWhileOpen = -1;
    BoxAnswer boxes(
        "OkYesButton", [&] { if (stateWhileOpen < 0) stateWhileOpen = w->uiState(); }, 2);
    p.type(QLatin1String(kReject));
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(boxes.answered(), 15000);
    QCOMPARE(boxes.title(), kNotice);
    QCOMPARE(boxes.texts().count(QStringLiteral("连接被拒绝")), 1);
    QCOMPARE(boxes.texts().count(QStringLiteral("连接关闭")), 1);
    QCOMPARE(stateWhileOpen, int(Widget::UI_STATE_CONNECTING));  // changed after the boxes
    QTRY_COMPARE(w->uiState(), int(Widget::UI_STATE_READY));
    QCOMPARE(p.page(), QStringLiteral("page_ready"));
    QVERIFY(!MainWindowProbe::busy(p.connectButton()));
    QCOMPARE(d->state().rejectionsSent, 1);
    // A refused device is not remembered.
    QVERIFY(!CSaveDatafile::instance()->readMeetingNumbers().contains(QLatin1String(kReject)));
  }

  // A device whose accept queue is full never completes the connection.
  void timeoutShowsItsBox() {
    plat::Socket listener = plat::listenTcp(kFullBacklog, 5001, 0);
    QVERIFY(listener != plat::kInvalidSocket);
    std::vector<plat::Socket> fillers;
    for (int i = 0; i < 3; ++i) {
      plat::Socket s = plat::tcpSocket();
      plat::setNonBlocking(s, true);
      plat::connectIPv4(s, plat::ipv4FromText(kFullBacklog), 5001);
      fillers.push_back(s);
    }
    QTest::qWait(200);

    auto w = newWindow();
    MainWindowProbe p(w.get());
    BoxAnswer box("OkYesButton");
    QElapsedTimer clock;
    clock.start();
    p.type(QLatin1String(kFullBacklog));
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(box.answered(), 15000);
    QCOMPARE(box.title(), kNotice);
    QCOMPARE(box.text(), QStringLiteral("连接超时"));
    QVERIFY2(clock.elapsed() >= 4000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE(w->uiState(), int(Widget::UI_STATE_READY));
    QCOMPARE(p.page(), QStringLiteral("page_ready"));

    for (plat::Socket s : fillers) plat::closeSocket(s);
    plat::closeSocket(listener);
  }

  // The device goes away while the window is minimised and sharing.
  void lossWhileSharingRestoresAndTells() {
    auto d = startDevice(kLoss);
    auto w = newWindow();
    MainWindowProbe p(w.get());
    QVERIFY(pair(p, kLoss));
    QVERIFY(share(p, *d));
    QTest::mouseClick(p.minButton(), Qt::LeftButton);
    QVERIFY(w->isMinimized());

    bool minimisedWhileOpen = true;
    BoxAnswer box("OkYesButton", [&] { minimisedWhileOpen = w->isMinimized(); });
    QVERIFY(d->closeConnection());
    QTRY_VERIFY_WITH_TIMEOUT(box.answered(), 5000);
    QCOMPARE(box.text(), QStringLiteral("连接关闭"));
    QVERIFY(!minimisedWhileOpen);
    QTRY_COMPARE(w->uiState(), int(Widget::UI_STATE_READY));
    QCOMPARE(p.page(), QStringLiteral("page_ready"));

    // The same window pairs again afterwards.
    QVERIFY(pair(p, kLoss));
  }

  void closingWhileSharingAsksFirst() {
    auto d = startDevice(kClose);
    auto w = newWindow();
    MainWindowProbe p(w.get());
    QVERIFY(pair(p, kClose));
    QVERIFY(share(p, *d));

    {
      BoxAnswer cancel("CancelNoButton");
      QTest::mouseClick(p.closeButton(), Qt::LeftButton);
      QTRY_VERIFY_WITH_TIMEOUT(cancel.answered(), 5000);
      QCOMPARE(cancel.title(), kNotice);
      QCOMPARE(cancel.text(), QStringLiteral("您确定关闭应用吗？"));
    }
    QTest::qWait(200);
    QVERIFY(w->isVisible());
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_SENDING));
    const auto before = d->state().mediaReceived;
    QTRY_VERIFY_WITH_TIMEOUT(d->state().mediaReceived > before, 5000);

    {
      BoxAnswer ok("OkYesButton");
      QTest::mouseClick(p.closeButton(), Qt::LeftButton);
      QTRY_VERIFY_WITH_TIMEOUT(ok.answered(), 5000);
    }
    QTRY_VERIFY(!w->isVisible());
    // Ending the program ends the session.
    w.reset();
    QVERIFY(d->waitFor([](const device::DeviceState& s) { return !s.connected; }, 5000));
  }

  // The shipped properties file sent the log into the folder it names, and
  // the connections above are in it.
  void logHoldsTheConnections() {
    const QString path = qEnvironmentVariable("HOME") + QStringLiteral("/.local/state/") +
                         QCoreApplication::applicationName() + QStringLiteral("/app.log");
    QFile log(path);
    QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(path));
    const QString text = QString::fromUtf8(log.readAll());
    for (const char* line :
         {"TandeoMgr::slot_connect", "ConnectBtnClicked: trying to connect to peer", "127.0.50.1",
          "value TDH239_CONNECTION_OK", "event SELECT_THREAD_EVENT_START_ENC",
          "value TDH239_CONNECTION_REJECTED", "value TDH239_CONNECTING_TIMEOUT",
          "value TDH239_CONNECTION_CLOSE"})
      QVERIFY2(text.contains(QLatin1String(line)), line);
  }
};

int main(int argc, char** argv) {
  // A private home: the recent addresses and the log go there.
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  qputenv("HOME", QFile::encodeName(home.path()));
  qputenv("appdata", QFile::encodeName(home.path() + QStringLiteral("/appdata")));
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  MainWidgetE2E test;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwidget_e2e.moc"
