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
#include "fake_device.h"
#include "fault_support.h"
#include "mainwindowprobe.h"
#include "platform/net.h"
#include "tdwire.h"

namespace {

// Each case has an address of its own.
const char kShare[] = "127.0.50.1";
const char kReject[] = "127.0.50.2";
const char kFullBacklog[] = "127.0.50.3";
const char kLoss[] = "127.0.50.4";
const char kClose[] = "127.0.50.5";
const char kPassword[] = "127.0.120.10";
const char kCancel[] = "127.0.120.11";
const char kStalled[] = "127.0.120.12";
const QString kNotice = QStringLiteral("提示");

std::unique_ptr<device::Device> startDevice(const char* address,
                                            std::optional<int> reject = std::nullopt,
                                            std::optional<std::string> password = std::nullopt) {
  device::DeviceOptions o;
  o.bindAddress = address;
  o.rejectReason = reject;
  o.password = password;
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

  // The device refuses and then ends the connection: one box, naming the
  // device's reason; the end of the refused connection is no news.
  void rejectionShowsItsReason() {
    auto d = startDevice(kReject, device::kRejectBusy);
    auto w = newWindow();
    MainWindowProbe p(w.get());
    int stateWhileOpen = -1;
    BoxAnswer boxes("OkYesButton", [&] { if (stateWhileOpen < 0) stateWhileOpen = w->uiState(); }, 2);
    p.type(QLatin1String(kReject));
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts().size(), 1, 10000);
    QCOMPARE(boxes.title(), kNotice);
    QCOMPARE(boxes.text(), QStringLiteral("连接被拒绝：设备忙，请稍后再试"));
    QCOMPARE(stateWhileOpen, int(Widget::UI_STATE_CONNECTING));  // changed after the box
    QTRY_COMPARE(w->uiState(), int(Widget::UI_STATE_READY));
    QVERIFY(d->waitFor([](const device::DeviceState& s) { return !s.connected; }, 5000));
    QTest::qWait(500);
    QCOMPARE(boxes.texts().size(), 1);
    QCOMPARE(p.page(), QStringLiteral("page_ready"));
    QVERIFY(!MainWindowProbe::busy(p.connectButton()));
    QCOMPARE(d->state().rejectionsSent, 1);
    // A refused device is not remembered.
    QVERIFY(!CSaveDatafile::instance()->readMeetingNumbers().contains(QLatin1String(kReject)));
  }

  // A device with a password: the window asks for it, asks again after a
  // wrong one, and pairs with the right one; no other box on the way.
  void passwordDevicePairsFromTheWindow() {
    const QString password = QStringLiteral("会议室-42");
    auto d = startDevice(kPassword, std::nullopt, password.toStdString());
    auto w = newWindow();
    MainWindowProbe p(w.get());
    PasswordAnswer answers({QStringLiteral("wrong"), password});
    p.type(QLatin1String(kPassword));
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->uiState(), int(Widget::UI_STATE_CONNECTED), 15000);
    QCOMPARE(answers.notices(),
             (QStringList{QStringLiteral("该设备需要密码"), QStringLiteral("密码错误，请重新输入")}));
    QCOMPARE(p.text("label_show"), QStringLiteral("已连接设备 ") + QLatin1String(kPassword));
    const device::DeviceState s = d->state();
    QCOMPARE(s.wrongAnswers, 2);  // the empty password, then "wrong"
    QCOMPARE(s.rightAnswers, 1);
    QVERIFY(!QApplication::activeModalWidget());

    // Cancelling the dialog goes back to the address page.
    QTest::mouseClick(p.disconnectButton(), Qt::LeftButton);
    PasswordAnswer cancel({QString()});
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(cancel.answered(), 10000);
    QTRY_COMPARE(w->uiState(), int(Widget::UI_STATE_READY));
    QCOMPARE(p.page(), QStringLiteral("page_ready"));
  }

  // A device that takes the connection and never answers: the connect
  // button reads "取消连接" while pairing and cancels at once.
  void pairingCanBeCancelled() {
    plat::Socket listener = plat::listenTcp(kCancel, 5001, 4);
    QVERIFY(listener != plat::kInvalidSocket);
    auto w = newWindow();
    MainWindowProbe p(w.get());
    for (int round = 0; round < 2; ++round) {
      p.type(QLatin1String(kCancel));
      QTest::mouseClick(p.connectButton(), Qt::LeftButton);
      QCOMPARE(w->uiState(), int(Widget::UI_STATE_CONNECTING));
      QCOMPARE(p.connectButton()->text(), QStringLiteral("取消连接"));
      QTest::qWait(1500);  // connected and waiting on the device
      QElapsedTimer clock;
      clock.start();
      QTest::mouseClick(p.connectButton(), Qt::LeftButton);
      QVERIFY(clock.elapsed() < 100);
      QCOMPARE(w->uiState(), int(Widget::UI_STATE_READY));
      QCOMPARE(p.connectButton()->text(), QStringLiteral("开始连接"));
      QVERIFY(!MainWindowProbe::busy(p.connectButton()));
    }
    // Long past the session's connect limit: nothing more comes of either.
    QTest::qWait(7000);
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_READY));
    QVERIFY(!QApplication::activeModalWidget());
    plat::closeSocket(listener);
  }

  // A device that stops reading in the middle of a busy stream: the send
  // path stalls (for up to 4 s), and the user presses stop and then
  // disconnect meanwhile. The GUI thread never goes more than 100 ms without
  // handling its events, and the window ends on the address page with no box.
  void staysResponsiveWhenTheDeviceStopsReading() {
    fault::NoisePainter noise;
    QVERIFY(noise.start());
    FakeDevice dev(kStalled);
    QVERIFY(dev.listening());
    QVERIFY(dev.setReceiveBufferSize(4096));  // the sender's buffers fill soon
    auto w = newWindow();
    MainWindowProbe p(w.get());
    p.type(QLatin1String(kStalled));
    QTest::mouseClick(p.connectButton(), Qt::LeftButton);
    QVERIFY(dev.accept());
    QVERIFY(dev.acceptPairing());
    QTRY_COMPARE_WITH_TIMEOUT(w->uiState(), int(Widget::UI_STATE_CONNECTED), 5000);
    QTest::mouseClick(p.sendButton(), Qt::LeftButton);
    Frame f;
    while (dev.readFrame(f) && f.type != TDMSG_START_ENCODING_REQ) {
    }
    QCOMPARE(f.type, unsigned(TDMSG_START_ENCODING_REQ));
    // 1280x720, 30 pictures a second, the highest bit rate.
    QVERIFY(dev.sendFrame(TDMSG_START_ENCODING_ACK, fault::ParamsRecord(18, 30, 2, 4096000, 100)));
    int media = 0;
    while (media < 20 && dev.readFrame(f)) media += f.type == TDMSG_MEDIA;
    QCOMPARE(media, 20);
    QTRY_COMPARE_WITH_TIMEOUT(w->uiState(), int(Widget::UI_STATE_SENDING), 5000);

    // From here on the device reads nothing; the buffers fill within a
    // second, and the busy screen has done its part.
    QTest::qWait(1500);
    noise.stop();
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      longest = qMax(longest, clock.elapsed() - last);
      last = clock.elapsed();
    });
    tick.start(10);
    QTest::qWait(300);
    QTest::mouseClick(p.sendButton(), Qt::LeftButton);
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_SEND_STOPPING));
    QTest::qWait(700);
    QTest::mouseClick(p.disconnectButton(), Qt::LeftButton);
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_READY));
    // Past the end of the stalled send and of the session.
    QTest::qWait(5000);
    tick.stop();
    qInfo("longest pause of the GUI thread while stalled: %lld ms", longest);
    QVERIFY2(longest <= 100, qPrintable(QStringLiteral("the GUI thread stood still for %1 ms").arg(longest)));
    QCOMPARE(w->uiState(), int(Widget::UI_STATE_READY));
    QVERIFY(!QApplication::activeModalWidget());
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
