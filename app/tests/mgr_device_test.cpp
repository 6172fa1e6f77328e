// The session manager end to end against the reference device on loopback
// (127.0.41.x), driven the way the main window drives it.
#include "mgr_test_support.h"

#include "device/device.h"
#include "tdwire.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using S = TandeoMgr;

class MgrDevice : public ManagerTest
{
protected:
    void TearDown() override
    {
        ManagerTest::TearDown();
        if (device)
            device->stop();
    }

    // A device that asks for a small picture at 5 frames per second and
    // challenges with the empty password, as the application pairs.
    device::Device &start(const char *address, device::DeviceOptions o = {})
    {
        o.bindAddress = address;
        if (!o.rejectReason)
            o.password = std::string();
        o.encoding.resolutionCode = 8;
        o.encoding.frameRate = 5;
        o.encoding.bitRate = 100000;
        o.encoding.profile = 66;
        o.log = [](const std::string &) {};
        device = std::make_unique<device::Device>(o);
        std::string error;
        EXPECT_TRUE(device->start(&error)) << error;
        return *device;
    }

    bool deviceSees(const std::function<bool(const device::DeviceState &)> &pred, int timeoutMs = 5000)
    {
        return device->waitFor(pred, timeoutMs);
    }

    void pair(const char *address)
    {
        int before = win.count("connect_succeed");
        emit win.signal_connect(QString::fromLatin1(address));
        ASSERT_TRUE(win.waitFor("connect_succeed", before + 1));
        EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);
    }

    void startSending()
    {
        int before = win.count("send_succeed");
        emit win.signal_send();
        ASSERT_TRUE(win.waitFor("send_succeed", before + 1));
        EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_ENCODING);
        std::uint64_t media = device->state().mediaReceived;
        EXPECT_TRUE(deviceSees([&](const device::DeviceState &s) { return s.mediaReceived > media; }, 10000));
    }

    std::unique_ptr<device::Device> device;
};

TEST_F(MgrDevice, PairsSharesAndStopsSharing)
{
    start("127.0.41.1");
    ASSERT_NO_FATAL_FAILURE(pair("127.0.41.1"));
    EXPECT_EQ(device->state().rightAnswers, 1);

    ASSERT_NO_FATAL_FAILURE(startSending());
    emit win.signal_stopsend();
    ASSERT_TRUE(win.waitFor("stopsend_succeed"));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);
    EXPECT_TRUE(deviceSees([](const device::DeviceState &s) { return !s.streaming; }));

    // The device stops a second run on its own: the same success signal.
    ASSERT_NO_FATAL_FAILURE(startSending());
    ASSERT_TRUE(device->sendStopAck());
    ASSERT_TRUE(win.waitFor("stopsend_succeed", 2));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_CONNECTED);

    emit win.signal_disconnect();
    EXPECT_TRUE(deviceSees([](const device::DeviceState &s) { return s.connectionsEnded == 1; }));
    EXPECT_EQ(device->state().protocolErrors, 0);
}

TEST_F(MgrDevice, RefusalCarriesTheDevicesReason)
{
    for (int reason = 0; reason <= 3; ++reason) {
        SCOPED_TRACE(reason);
        device::DeviceOptions o;
        o.rejectReason = reason;
        start("127.0.41.2", o);
        emit win.signal_connect(QStringLiteral("127.0.41.2"));
        ASSERT_TRUE(win.waitFor("connect_rejected", reason + 1));
        EXPECT_EQ(win.lastArg("connect_rejected"), reason);
        EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);
        emit win.signal_disconnect();
        device->stop();
    }
}

TEST_F(MgrDevice, DeviceThatHangsUpOrFallsSilentEndsWithConnectClosed)
{
    start("127.0.41.4");
    ASSERT_NO_FATAL_FAILURE(pair("127.0.41.4"));
    ASSERT_NO_FATAL_FAILURE(startSending());
    ASSERT_TRUE(device->closeConnection());
    ASSERT_TRUE(win.waitFor("connect_closed"));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);
    device->stop();

    // A device that sends no keep-alives is given up 7 to 8 seconds on.
    device::DeviceOptions o;
    o.keepAliveMs = 0;
    start("127.0.41.5", o);
    ASSERT_NO_FATAL_FAILURE(pair("127.0.41.5"));
    ASSERT_TRUE(win.waitFor("connect_closed", 2, 15000));
    EXPECT_EQ(mgr->localStatus(), S::LOCAL_STATUS_IDLE);
}

} // namespace
