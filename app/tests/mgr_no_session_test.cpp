// The session manager when no session could be created. This program
// defines the session interface itself, so the manager links against these
// definitions: creation fails, and every other call is recorded.
#include "mgr_test_support.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

std::atomic<int> g_calls{0};      // calls of the interface with a handle
std::atomic<int> g_nullDestroy{0}; // DestroyTDSdkHandle(nullptr), which is allowed

} // namespace

extern "C" {

TDSdkHandle TDS_CALL CreateTDSdkHandle(void)
{
    return nullptr;
}

void TDS_CALL DestroyTDSdkHandle(TDSdkHandle handle)
{
    handle ? ++g_calls : ++g_nullDestroy;
}

void TDS_CALL TDS_SetPassword(TDSdkHandle, const char *) { ++g_calls; }
void TDS_CALL TDS_SetSysMetric(TDSdkHandle, int32_t, int32_t) { ++g_calls; }
CaptureHandler TDS_CALL TDS_GetSetCaptureHandler(TDSdkHandle)
{
    ++g_calls;
    return CaptureHandler{nullptr, nullptr};
}
int32_t TDS_CALL TDS_AttemptToPair(TDSdkHandle, const char *, void *, SelectThreadCallbackFn)
{
    ++g_calls;
    return TDS_FAILED;
}
void TDS_CALL TDS_Disconnect(TDSdkHandle) { ++g_calls; }
int32_t TDS_CALL TDS_GetPairRejectedReason(TDSdkHandle)
{
    ++g_calls;
    return 0;
}
void TDS_CALL TDS_ReqToStartEncoding(TDSdkHandle) { ++g_calls; }
void TDS_CALL TDS_ReqToStopEncoding(TDSdkHandle) { ++g_calls; }

} // extern "C"

namespace {

TEST(MgrWithoutSession, EveryCommandIsAnsweredWithoutTouchingTheSession)
{
    MessageLog::clear();
    TandeoMgr::createInstance();
    TandeoMgr *mgr = TandeoMgr::instance();
    ASSERT_NE(mgr, nullptr);
    EXPECT_FALSE(mgr->hasSession());
    EXPECT_EQ(MessageLog::count("CreateTDSdkHandle error"), 1);

    StandInWindow win;
    win.wire(mgr);

    // Connect: at once a close notice, so the window leaves its waiting
    // state, and a log line that says why.
    emit win.signal_connect(QStringLiteral("127.0.40.20"));
    ASSERT_EQ(win.count("connect_closed"), 1);
    EXPECT_EQ(MessageLog::count("no session, cannot connect to peer "), 1);
    EXPECT_EQ(mgr->localStatus(), TandeoMgr::LOCAL_STATUS_IDLE);

    emit win.signal_send();
    emit win.signal_stopsend(); // idle: the close notice once more
    emit win.signal_disconnect();
    emit win.signal_connect(QStringLiteral("127.0.40.20"));
    QTest::qWait(50);
    EXPECT_EQ(win.count("connect_closed"), 3);
    EXPECT_EQ(win.results.size(), 3);
    EXPECT_EQ(mgr->localStatus(), TandeoMgr::LOCAL_STATUS_IDLE);
    for (const auto &r : win.results)
        EXPECT_EQ(r.thread, qApp->thread());

    TandeoMgr::destroyInstance();
    EXPECT_EQ(g_calls.load(), 0);
    EXPECT_LE(g_nullDestroy.load(), 1);
}

} // namespace
