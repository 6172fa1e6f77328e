// The monitor to share: two monitors side by side on a private X server
// (RandR monitors), the choice of one, and a change of its size while the
// screen is being shared.
#include "mgr_test_support.h"

#include "fake_device.h"
#include "tdwire.h"
#include "test_x_server.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <string>

namespace {

class MgrScreens : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(x.Start("3840x1080x24")) << x.error();
        setenv("DISPLAY", x.display().c_str(), 1);
        // LEFT takes the output (its automatic monitor goes), RIGHT is
        // virtual.
        ASSERT_TRUE(xrandr("--setmonitor LEFT 1920/508x1080/286+0+0 screen"));
        ASSERT_TRUE(xrandr("--setmonitor RIGHT 1920/508x1080/286+1920+0 none"));
    }

    bool xrandr(const std::string &args)
    {
        const std::string command = "DISPLAY=" + x.display() + " xrandr " + args + " >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

    plat_test::TestXServer x;
};

// Media until n packets arrived; control frames are skipped.
bool receiveMedia(FakeDevice &dev, int n)
{
    Frame f;
    for (int got = 0; got < n;) {
        if (!dev.sendFrame(TDMSG_KEEPALIVE) || !dev.readFrame(f))
            return false;
        got += f.type == TDMSG_MEDIA;
    }
    return true;
}

TEST_F(MgrScreens, ChoiceSetsTheCaptureAreaThatFollowsTheMonitor)
{
    MessageLog::clear();
    TandeoMgr::createInstance();
    TandeoMgr *mgr = TandeoMgr::instance();
    StandInWindow win;
    win.wire(mgr);
    QSignalSpy changed(mgr, SIGNAL(signal_screens_changed()));

    // Both monitors offered by name; with none marked primary, the first is
    // shared.
    ASSERT_EQ(mgr->screens().size(), 2);
    EXPECT_EQ(mgr->screens()[0].name, QStringLiteral("LEFT"));
    EXPECT_EQ(mgr->screens()[1].name, QStringLiteral("RIGHT"));
    EXPECT_EQ(mgr->screens()[1].area.left, 1920);
    EXPECT_EQ(mgr->captureScreen(), QStringLiteral("LEFT"));

    // Paired and sharing.
    FakeDevice dev("127.0.120.30");
    ASSERT_TRUE(dev.listening());
    emit win.signal_connect(QStringLiteral("127.0.120.30"));
    ASSERT_TRUE(dev.accept());
    ASSERT_TRUE(dev.acceptPairing());
    ASSERT_TRUE(win.waitFor("connect_succeed"));
    emit win.signal_send();
    Frame f;
    while (dev.readFrame(f) && f.type != TDMSG_START_ENCODING_REQ) {
    }
    ASSERT_EQ(f.type, unsigned(TDMSG_START_ENCODING_REQ));
    ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, smallParamsRecord(10, 500000)));
    ASSERT_TRUE(win.waitFor("send_succeed"));
    ASSERT_TRUE(receiveMedia(dev, 5));

    // The other monitor.
    emit win.signal_choose_screen(QStringLiteral("RIGHT"));
    EXPECT_EQ(mgr->captureScreen(), QStringLiteral("RIGHT"));
    EXPECT_EQ(MessageLog::count(QStringLiteral("capture area \"RIGHT\" 1920 0 3840 1080")), 1);
    ASSERT_TRUE(receiveMedia(dev, 5));

    // RIGHT shrinks while shared: the capture area moves with it, the
    // stream goes on.
    ASSERT_TRUE(xrandr("--delmonitor RIGHT"));
    ASSERT_TRUE(xrandr("--setmonitor RIGHT 1280/338x720/190+1920+0 none"));
    ASSERT_TRUE(MessageLog::waitFor(QStringLiteral("capture area \"RIGHT\" 1920 0 3200 720"), 1, 5000));
    EXPECT_GE(changed.count(), 1);
    ASSERT_TRUE(receiveMedia(dev, 10));

    // RIGHT goes away: back to the first monitor.
    ASSERT_TRUE(xrandr("--delmonitor RIGHT"));
    ASSERT_TRUE(MessageLog::waitFor(QStringLiteral("capture area \"LEFT\" 0 0 1920 1080"), 1, 5000));
    EXPECT_EQ(mgr->screens().size(), 1);
    ASSERT_TRUE(receiveMedia(dev, 5));
    EXPECT_EQ(win.count("connect_closed"), 0);
    TandeoMgr::destroyInstance();
}

}  // namespace
