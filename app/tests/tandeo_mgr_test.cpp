// The session manager against a scripted device on loopback, driven the way
// the main window drives it.
#include "mgr_test_support.h"

#include "app/screen_metrics.h"
#include "fake_device.h"
#include "tdwire.h"

#include <QCryptographicHash>
#include <QElapsedTimer>

#include <cstdio>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The next control message from the session; media is skipped. The device
// sends a keep-alive first, so the session never counts it as lost however
// slowly the test goes.
bool nextControl(FakeDevice &dev, Frame &f, int timeoutMs = 5000)
{
    for (;;) {
        if (!dev.sendFrame(TDMSG_KEEPALIVE) || !dev.readFrame(f, timeoutMs))
            return false;
        if (f.type != TDMSG_MEDIA)
            return true;
    }
}

// Control messages until the session has been quiet for quietMs.
std::vector<std::uint32_t> remainingControl(FakeDevice &dev, int quietMs = 600)
{
    std::vector<std::uint32_t> types;
    Frame f;
    while (nextControl(dev, f, quietMs))
        types.push_back(f.type);
    return types;
}

using S = TandeoMgr;

class Mgr : public ManagerTest
{
protected:
    // Connect pressed; the device takes the connection and reads the banner.
    void startPairing(FakeDevice &dev, const char *address)
    {
        emit win.signal_connect(QString::fromLatin1(address));
        ASSERT_TRUE(dev.accept());
        Frame f;
        ASSERT_TRUE(dev.readFrame(f));
        ASSERT_EQ(f.type, unsigned(TDMSG_PAIR_BANNER));
        EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTING);
    }

    // The device challenges; the answer is MD5 over the challenge and the
    // password's UTF-8 bytes.
    void challenge(FakeDevice &dev, const QString &password)
    {
        const Bytes challenge{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        ASSERT_TRUE(dev.sendFrame(TDMSG_PASSWORD_CHALLENGE, challenge));
        Frame f;
        ASSERT_TRUE(nextControl(dev, f));
        ASSERT_EQ(f.type, unsigned(TDMSG_PASSWORD_DIGEST));
        QByteArray input(reinterpret_cast<const char *>(challenge.data()), int(challenge.size()));
        input += password.toUtf8();
        QByteArray md5 = QCryptographicHash::hash(input, QCryptographicHash::Md5);
        EXPECT_EQ(f.payload, Bytes(md5.begin(), md5.end()));
    }

    // A whole pairing: challenge, the answer for the empty password, acceptance.
    void pair(FakeDevice &dev, const char *address)
    {
        ASSERT_NO_FATAL_FAILURE(startPairing(dev, address));
        ASSERT_NO_FATAL_FAILURE(challenge(dev, QString()));
        int before = win.count("connect_succeed");
        int authorized = MessageLog::count("status change to TDH239_AUTHORIZED");
        ASSERT_TRUE(dev.sendFrame(TDMSG_PAIR_SUCCEED_INDIC));
        ASSERT_TRUE(win.waitFor("connect_succeed", before + 1));
        // The session's h239 report of the same chunk comes after the signal.
        ASSERT_TRUE(MessageLog::waitFor("status change to TDH239_AUTHORIZED", authorized + 1));
        EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);
    }

    // From connected to encoding through the send button.
    void startSending(FakeDevice &dev)
    {
        emit win.signal_send();
        EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_START_REQUESTED);
        Frame f;
        ASSERT_TRUE(nextControl(dev, f));
        ASSERT_EQ(f.type, unsigned(TDMSG_START_ENCODING_REQ));
        int before = win.count("send_succeed");
        ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, smallParamsRecord()));
        ASSERT_TRUE(win.waitFor("send_succeed", before + 1));
        EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_ENCODING);
    }

    // Lets queued results arrive, for checks that something did not happen.
    void settle(int ms = 200) { QTest::qWait(ms); }
};

TEST(MgrInstance, OneInstanceFromCreateToDestroy)
{
    EXPECT_EQ(TandeoMgr::instance(), nullptr);
    TandeoMgr::createInstance();
    TandeoMgr *first = TandeoMgr::instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->localStatus(), TandeoMgr::LOCAL_STATUS_IDLE);
    EXPECT_EQ(first->parent(), nullptr);
    TandeoMgr::createInstance();
    EXPECT_EQ(TandeoMgr::instance(), first);
    TandeoMgr::destroyInstance();
    EXPECT_EQ(TandeoMgr::instance(), nullptr);
    TandeoMgr::destroyInstance();
    EXPECT_EQ(TandeoMgr::instance(), nullptr);
}

TEST(MgrInstance, ConstructionHandsTheScreenToTheSession)
{
    // The display's primary screen (all zero when there is no display).
    DesktopMetrics m = primaryDesktopMetrics();
    EXPECT_EQ(m.desktop.right - m.desktop.left, m.width);
    EXPECT_EQ(m.desktop.bottom - m.desktop.top, m.height);
    const QString size = QStringLiteral("%1   %2").arg(m.desktop.right).arg(m.desktop.bottom);

    MessageLog::clear();
    TandeoMgr::createInstance();
    TandeoMgr::destroyInstance();
    // The manager logs the desktop's right and bottom, and the capture area
    // set in the session is that whole desktop.
    QStringList lines = MessageLog::all().filter(QStringLiteral("TandeoMgr::TandeoMgr"));
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].endsWith(size)) << lines[0].toStdString();
    QStringList area = MessageLog::all().filter(QStringLiteral("SetCaptureArea"));
    ASSERT_EQ(area.size(), 1);
    EXPECT_TRUE(area[0].endsWith(size)) << area[0].toStdString();
}

TEST_F(Mgr, PairsWithAnEmptyPasswordAndKeepsTheAttemptWhenConnectIsPressedAgain)
{
    FakeDevice dev("127.0.40.1");
    ASSERT_TRUE(dev.listening());
    MessageLog::clear();
    ASSERT_NO_FATAL_FAILURE(startPairing(dev, "127.0.40.1"));

    // While the attempt runs: connect (to another address), send and stop
    // are answered with a log line; the attempt goes on.
    emit win.signal_connect(QStringLiteral("127.0.40.2"));
    EXPECT_EQ(MessageLog::count("ConnectBtnClicked, but return as a connecting attempt is ongoing"), 1);
    emit win.signal_send();
    EXPECT_EQ(MessageLog::count("start share but not connected"), 1);
    emit win.signal_stopsend();
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTING);

    Bytes challenge{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_TRUE(dev.sendFrame(TDMSG_PASSWORD_CHALLENGE, challenge));
    Frame f;
    ASSERT_TRUE(nextControl(dev, f));
    ASSERT_EQ(f.type, unsigned(TDMSG_PASSWORD_DIGEST));
    // The empty password: the answer covers the 16 challenge bytes alone.
    QByteArray md5 = QCryptographicHash::hash(QByteArray(reinterpret_cast<const char *>(challenge.data()), 16),
                                              QCryptographicHash::Md5);
    EXPECT_EQ(f.payload, Bytes(md5.begin(), md5.end()));
    ASSERT_TRUE(dev.sendFrame(TDMSG_PAIR_SUCCEED_INDIC));
    ASSERT_TRUE(win.waitFor("connect_succeed"));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);
    EXPECT_EQ(win.results.size(), 1);

    // Each slot starts with the status it found.
    EXPECT_EQ(MessageLog::count("tandeoLocalStatus_ is  1"), 3);
    EXPECT_EQ(MessageLog::count("value TDH239_CONNECTION_OK"), 1);
    // The h239 report of the same chunk follows the signal.
    EXPECT_TRUE(MessageLog::waitFor("status change to TDH239_AUTHORIZED"));
}

TEST_F(Mgr, EachRejectionLeavesTheManagerIdleWithTheSessionsReason)
{
    const std::pair<std::uint32_t, int> cases[] = {{TDMSG_PAIR_REJECTED, 0},
                                                   {TDMSG_PAIR_REJECTED_1, 1},
                                                   {TDMSG_PAIR_REJECTED_2, 2},
                                                   {TDMSG_PAIR_REJECTED_3, 3}};
    FakeDevice dev("127.0.40.3");
    ASSERT_TRUE(dev.listening());
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.second);
        if (n == 0) {
            ASSERT_NO_FATAL_FAILURE(startPairing(dev, "127.0.40.3"));
        } else {
            // The device keeps the rejected connection open. A new connect
            // must not wait for that session to run out of keep-alives (7
            // to 8 seconds): it ends it at once, and the device sees it.
            QElapsedTimer t;
            t.start();
            emit win.signal_connect(QStringLiteral("127.0.40.3"));
            EXPECT_LT(t.elapsed(), 4000);
            EXPECT_TRUE(dev.waitClosed(3000));
            dev.closeConnection();
            ASSERT_TRUE(dev.accept());
            Frame f;
            ASSERT_TRUE(dev.readFrame(f));
            ASSERT_EQ(f.type, unsigned(TDMSG_PAIR_BANNER));
        }
        ASSERT_TRUE(dev.sendFrame(c.first));
        ASSERT_TRUE(win.waitFor("connect_rejected", ++n));
        EXPECT_EQ(win.lastArg("connect_rejected"), c.second);
        EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);
    }
    emit win.signal_disconnect();
    settle();
    // A rejection is not followed by a close notice.
    EXPECT_EQ(win.count("connect_closed"), 0);
    EXPECT_EQ(win.results.size(), 4);
}

TEST_F(Mgr, ConnectTimeoutLeavesTheManagerIdleAndReadyForANewAttempt)
{
    emit win.signal_connect(QStringLiteral("127.0.40.4"));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTING);
    ASSERT_TRUE(win.waitFor("connect_timeout", 1, 15000));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);
    EXPECT_EQ(win.results.size(), 1);

    FakeDevice dev("127.0.40.4");
    ASSERT_TRUE(dev.listening());
    ASSERT_NO_FATAL_FAILURE(pair(dev, "127.0.40.4"));
}

TEST_F(Mgr, CloseByTheDeviceWhileConnectingPairedOrSendingEndsIdleWithConnectClosed)
{
    FakeDevice dev("127.0.40.5");
    ASSERT_TRUE(dev.listening());
    MessageLog::clear();
    for (int phase = 0; phase < 3; ++phase) {
        SCOPED_TRACE(phase);
        if (phase == 0) {
            ASSERT_NO_FATAL_FAILURE(startPairing(dev, "127.0.40.5"));
        } else {
            ASSERT_NO_FATAL_FAILURE(pair(dev, "127.0.40.5"));
        }
        if (phase == 2) {
            ASSERT_NO_FATAL_FAILURE(startSending(dev));
        }
        dev.closeConnection();
        ASSERT_TRUE(win.waitFor("connect_closed", phase + 1));
        EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);
        // The manager's own queued slot follows: it reaps the ended
        // session thread.
        EXPECT_TRUE(MessageLog::waitFor("TandeoMgr::slot_connect_closed", phase + 1));
    }
    EXPECT_EQ(win.count("connect_succeed"), 2);
    EXPECT_EQ(win.count("send_succeed"), 1);
    EXPECT_EQ(win.results.size(), 6);
}

TEST_F(Mgr, StartAndStopSendingFollowTheDevicesAcknowledgements)
{
    FakeDevice dev("127.0.40.6");
    ASSERT_TRUE(dev.listening());
    ASSERT_NO_FATAL_FAILURE(pair(dev, "127.0.40.6"));
    MessageLog::clear();

    // Stop while merely connected: nothing.
    emit win.signal_stopsend();
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);

    emit win.signal_send();
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_START_REQUESTED);
    Frame f;
    ASSERT_TRUE(nextControl(dev, f));
    ASSERT_EQ(f.type, unsigned(TDMSG_START_ENCODING_REQ));
    // Send again and stop while the acknowledgement is awaited: log lines only.
    emit win.signal_send();
    EXPECT_EQ(MessageLog::count("already request start encoding"), 1);
    emit win.signal_stopsend();
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_START_REQUESTED);

    ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, smallParamsRecord()));
    ASSERT_TRUE(win.waitFor("send_succeed"));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_ENCODING);
    emit win.signal_send();
    EXPECT_EQ(MessageLog::count("already encoding"), 1);

    // Stop: the request goes out, the status waits for the device.
    emit win.signal_stopsend();
    EXPECT_EQ(MessageLog::count("before TDS_ReqToStopEncoding"), 1);
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_ENCODING);
    ASSERT_TRUE(nextControl(dev, f));
    ASSERT_EQ(f.type, unsigned(TDMSG_STOP_ENCODING_REQ));
    ASSERT_TRUE(dev.sendFrame(TDMSG_STOP_ENCODING_ACK));
    ASSERT_TRUE(win.waitFor("stopsend_succeed"));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);

    // The only requests were the ones above: the stream had already
    // stopped, so the acknowledgement sends no second stop.
    std::vector<std::uint32_t> rest = remainingControl(dev);
    EXPECT_EQ(std::count(rest.begin(), rest.end(), TDMSG_START_ENCODING_REQ), 0);
    EXPECT_EQ(std::count(rest.begin(), rest.end(), TDMSG_STOP_ENCODING_REQ), 0);

    // And sharing can start again.
    ASSERT_NO_FATAL_FAILURE(startSending(dev));
    EXPECT_EQ(win.count("send_succeed"), 2);
    EXPECT_EQ(win.count("stopsend_succeed"), 1);
    EXPECT_EQ(win.results.size(), 4);
}

TEST_F(Mgr, UnrequestedStartIsAnsweredWithAStopAndNoSignal)
{
    FakeDevice dev("127.0.40.7");
    ASSERT_TRUE(dev.listening());
    ASSERT_NO_FATAL_FAILURE(pair(dev, "127.0.40.7"));
    MessageLog::clear();

    ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, smallParamsRecord()));
    Frame f;
    ASSERT_TRUE(nextControl(dev, f));
    EXPECT_EQ(f.type, unsigned(TDMSG_STOP_ENCODING_REQ));
    // The h239 report follows the start report of the same chunk: once it
    // is logged, anything the start report emitted is already queued.
    ASSERT_TRUE(MessageLog::waitFor("status change to TDH239_ENCODING"));
    settle(50);
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);

    // The device's stop report while merely connected: no signal either.
    ASSERT_TRUE(dev.sendFrame(TDMSG_STOP_ENCODING_ACK));
    ASSERT_TRUE(MessageLog::waitFor("status change to TDH239_AUTHORIZED"));
    settle(50);
    EXPECT_EQ(MessageLog::count("SELECT_THREAD_EVENT_STOP_ENC 2"), 1);
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);
    EXPECT_EQ(win.results.size(), 1);  // the pairing's success only

    // The manager still asks for a start when told to (past the stop that
    // the session sends as its codec thread ends).
    std::vector<std::uint32_t> rest = remainingControl(dev);
    EXPECT_EQ(std::count(rest.begin(), rest.end(), TDMSG_START_ENCODING_REQ), 0);
    ASSERT_NO_FATAL_FAILURE(startSending(dev));
}

TEST_F(Mgr, ButtonsWhileIdleNeverReachTheDevice)
{
    MessageLog::clear();
    emit win.signal_send();
    EXPECT_EQ(MessageLog::count("start share but not connected"), 1);
    emit win.signal_disconnect();
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);
    EXPECT_TRUE(win.results.isEmpty());

    // Stop while idle: the window hears of a close at once (same thread),
    // the manager's own slot later through the queue.
    emit win.signal_stopsend();
    ASSERT_EQ(win.count("connect_closed"), 1);
    EXPECT_EQ(MessageLog::count("TandeoMgr::slot_connect_closed"), 0);
    ASSERT_TRUE(MessageLog::waitFor("TandeoMgr::slot_connect_closed"));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);
}

TEST_F(Mgr, DisconnectInEveryStateEndsTheConnectionWithoutASignal)
{
    FakeDevice dev("127.0.40.9");
    ASSERT_TRUE(dev.listening());
    emit win.signal_disconnect();  // idle
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);

    for (int state = S::LOCAL_STATUS_CONNECTING; state <= S::LOCAL_STATUS_ENCODING; ++state) {
        SCOPED_TRACE(state);
        if (state == S::LOCAL_STATUS_CONNECTING) {
            ASSERT_NO_FATAL_FAILURE(startPairing(dev, "127.0.40.9"));
        } else {
            ASSERT_NO_FATAL_FAILURE(pair(dev, "127.0.40.9"));
            if (state == S::LOCAL_STATUS_START_REQUESTED) {
                emit win.signal_send();
                Frame f;
                ASSERT_TRUE(nextControl(dev, f));
                ASSERT_EQ(f.type, unsigned(TDMSG_START_ENCODING_REQ));
            } else if (state == S::LOCAL_STATUS_ENCODING) {
                ASSERT_NO_FATAL_FAILURE(startSending(dev));
            }
        }
        ASSERT_EQ(mgr->localStatus(), state);
        emit win.signal_disconnect();
        EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);
        EXPECT_TRUE(dev.waitClosed(3000));
        dev.closeConnection();
    }
    settle();
    EXPECT_EQ(win.count("connect_succeed"), 3);
    EXPECT_EQ(win.count("send_succeed"), 1);
    EXPECT_EQ(win.results.size(), 4);
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);
}

TEST_F(Mgr, ConnectWhilePairedOrSendingEndsTheOldSessionAndPairsAnew)
{
    FakeDevice first("127.0.40.10");
    FakeDevice second("127.0.40.11");
    ASSERT_TRUE(first.listening() && second.listening());
    ASSERT_NO_FATAL_FAILURE(pair(first, "127.0.40.10"));
    ASSERT_NO_FATAL_FAILURE(startSending(first));

    ASSERT_NO_FATAL_FAILURE(startPairing(second, "127.0.40.11"));
    EXPECT_TRUE(first.waitClosed(3000));
    ASSERT_TRUE(second.sendFrame(TDMSG_PAIR_SUCCEED_INDIC));
    ASSERT_TRUE(win.waitFor("connect_succeed", 2));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);

    // And again from merely connected, back to the first device.
    first.closeConnection();
    ASSERT_NO_FATAL_FAILURE(pair(first, "127.0.40.10"));
    EXPECT_TRUE(second.waitClosed(3000));
    settle();
    EXPECT_EQ(win.count("connect_closed"), 0);
    EXPECT_EQ(win.results.size(), 4);
}

TEST_F(Mgr, LateCloseNoticeDoesNotEndANewerAttempt)
{
    FakeDevice dev("127.0.40.12");
    ASSERT_TRUE(dev.listening());
    MessageLog::clear();
    // Stop while idle queues the manager's close handling; connect is
    // pressed before the queue runs. The attempt must survive it.
    emit win.signal_stopsend();
    ASSERT_NO_FATAL_FAILURE(startPairing(dev, "127.0.40.12"));
    ASSERT_TRUE(MessageLog::waitFor("TandeoMgr::slot_connect_closed"));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTING);
    ASSERT_TRUE(dev.sendFrame(TDMSG_PAIR_SUCCEED_INDIC));
    ASSERT_TRUE(win.waitFor("connect_succeed"));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);
}

// A device that wants a password refuses the empty one (reason 1) and hangs
// up: the refusal is the only news, and the manager pairs again with the
// password the user then gives.
TEST_F(Mgr, RefusedForItsPasswordThenPairsWithIt)
{
    FakeDevice dev("127.0.120.1");
    ASSERT_TRUE(dev.listening());
    ASSERT_NO_FATAL_FAILURE(startPairing(dev, "127.0.120.1"));
    ASSERT_NO_FATAL_FAILURE(challenge(dev, QString()));
    ASSERT_TRUE(dev.sendFrame(TDMSG_PAIR_REJECTED_1));
    dev.closeConnection();
    ASSERT_TRUE(win.waitFor("connect_rejected"));
    EXPECT_EQ(win.lastArg("connect_rejected"), 1);
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);
    settle(500);
    EXPECT_EQ(win.count("connect_closed"), 0);

    // Not ASCII, so the bytes that go into the answer are the UTF-8 ones.
    const QString password = QStringLiteral("会议室-42");
    emit win.signal_connect_password(QStringLiteral("127.0.120.1"), password);
    ASSERT_TRUE(dev.accept());
    Frame f;
    ASSERT_TRUE(dev.readFrame(f));
    ASSERT_EQ(f.type, unsigned(TDMSG_PAIR_BANNER));
    ASSERT_NO_FATAL_FAILURE(challenge(dev, password));
    ASSERT_TRUE(dev.sendFrame(TDMSG_PAIR_SUCCEED_INDIC));
    ASSERT_TRUE(win.waitFor("connect_succeed"));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);
}

// The device never acknowledges a stop: nothing of the stream follows the
// stop request, the manager counts sharing as stopped after its wait, and
// the next start is a new stream.
TEST_F(Mgr, UnacknowledgedStopEndsSharingAfterItsWait)
{
    FakeDevice dev("127.0.120.2");
    ASSERT_TRUE(dev.listening());
    ASSERT_NO_FATAL_FAILURE(pair(dev, "127.0.120.2"));
    ASSERT_NO_FATAL_FAILURE(startSending(dev));
    Frame f;
    int media = 0;
    while (media < 3 && dev.readFrame(f))
        media += f.type == TDMSG_MEDIA;
    ASSERT_EQ(media, 3);

    QElapsedTimer clock;
    clock.start();
    emit win.signal_stopsend();
    bool stopSeen = false;
    while (!stopSeen && dev.readFrame(f))
        stopSeen = f.type == TDMSG_STOP_ENCODING_REQ;
    ASSERT_TRUE(stopSeen);
    ASSERT_TRUE(dev.sendFrame(TDMSG_KEEPALIVE));
    for (const Frame &later : dev.drain(500))
        EXPECT_NE(later.type, unsigned(TDMSG_MEDIA));
    EXPECT_EQ(win.count("stopsend_succeed"), 0);

    ASSERT_TRUE(win.waitFor("stopsend_succeed", 1, 5000));
    EXPECT_GE(clock.elapsed(), TandeoMgr::kStopAckWaitMs - 100);
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);
    ASSERT_NO_FATAL_FAILURE(startSending(dev));
    EXPECT_EQ(win.count("connect_closed"), 0);
}

// Pairing that fails at once, before any session thread runs (here the
// process has no descriptor left for the socket): the manager does not stay
// "connecting"; the window hears of the failure and can try again.
TEST(MgrNoDescriptors, AttemptThatCannotStartEndsAtOnce)
{
    TandeoMgr::createInstance();
    TandeoMgr *mgr = TandeoMgr::instance();
    FakeDevice dev("127.0.120.3");
    ASSERT_TRUE(dev.listening());
    // Only plain code runs while no descriptor is left: no spy, no test
    // event loop (the sanitizers' checks of a type seen for the first time
    // read files).
    int failed = 0;
    QObject::connect(mgr, &TandeoMgr::signal_connect_failed, [&failed] { ++failed; });

    std::vector<std::FILE *> hog;
    while (hog.size() < 65536) {
        std::FILE *f = std::fopen("/dev/null", "r");
        if (!f)
            break;
        hog.push_back(f);
    }
    auto release = [&hog] {
        for (std::FILE *f : hog)
            std::fclose(f);
        hog.clear();
    };
    if (hog.size() >= 65536) {
        release();
        TandeoMgr::destroyInstance();
        GTEST_SKIP() << "descriptor limit too high to exhaust; ctest runs this under prlimit";
    }
    QMetaObject::invokeMethod(mgr, "slot_connect", Q_ARG(QString, QStringLiteral("127.0.120.3")));
    const std::int32_t whileTrying = mgr->localStatus();
    QElapsedTimer clock;
    clock.start();
    while (failed == 0 && clock.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    release();
    EXPECT_EQ(whileTrying, TandeoMgr::LOCAL_STATUS_CONNECTING);
    ASSERT_EQ(failed, 1);
    EXPECT_EQ(mgr->localStatus(), TandeoMgr::LOCAL_STATUS_IDLE);

    // With descriptors again, the next attempt pairs.
    StandInWindow win;
    win.wire(mgr);
    emit win.signal_connect(QStringLiteral("127.0.120.3"));
    ASSERT_TRUE(dev.accept());
    ASSERT_TRUE(dev.acceptPairing());
    ASSERT_TRUE(win.waitFor("connect_succeed"));
    EXPECT_EQ(win.count("connect_failed"), 0);
    TandeoMgr::destroyInstance();
}

}  // namespace
