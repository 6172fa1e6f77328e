#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>

#include "tdsdk.h"

// The application's one session manager. It owns the session handle for the
// life of the process, turns the main window's four commands into calls of
// the session interface, and turns the session thread's status callbacks
// into signals, which Qt's automatic connections deliver on the GUI thread.
//
// Without a session handle (the socket library or the session could not be
// started) no slot calls the session interface; a connect command is then
// answered at once with signal_connect_closed(), so the window returns to
// its address page instead of waiting for ever.
class TandeoMgr : public QObject
{
    Q_OBJECT

public:
    enum LocalStatus : std::int32_t {
        LOCAL_STATUS_IDLE = 0,
        LOCAL_STATUS_CONNECTING = 1,
        LOCAL_STATUS_CONNECTED = 2,
        LOCAL_STATUS_START_REQUESTED = 3,
        LOCAL_STATUS_ENCODING = 4,
    };

    // Process-wide instance, all on the GUI thread. createInstance does
    // nothing when the instance exists; destroyInstance nothing when not.
    static void createInstance();
    static TandeoMgr *instance();
    static void destroyInstance();

    // The manager's view of the session (one of LocalStatus).
    std::int32_t localStatus() const { return tandeoLocalStatus_.load(); }
    bool hasSession() const { return sdkHandle_ != nullptr; }

signals:
    void signal_connect_succeed();
    void signal_connect_failed();
    void signal_disconnect_succeed();
    void signal_disconnect_failed();
    void signal_send_succeed();
    void signal_send_failed();
    void signal_stopsend_succeed();
    void signal_stopsend_failed();
    void signal_connect_rejected(int i);
    void signal_connect_timeout();
    void signal_connect_closed();
    // The desktop declined to hand out the screen; sharing stops, the
    // pairing stays.
    void signal_capture_refused();

private slots:
    void slot_connect(QString strInfo);
    void slot_disconnect();
    void slot_send();
    void slot_stopsend();
    void slot_connect_closed();

private:
    TandeoMgr();
    ~TandeoMgr() override;
    Q_DISABLE_COPY(TandeoMgr)

    // The session's callback: runs on the session thread.
    static void TDS_CALL OnSelectThreadEvent(void *userData, int event, int value);
    void SelectThreadCallback(int event, int value);
    void printParam(int event, int value);

    void setStatus(LocalStatus s) { tandeoLocalStatus_.store(s); }

    TDSdkHandle sdkHandle_ = nullptr;
    // Written by the slots (GUI thread) and by the callback (session thread).
    std::atomic<std::int32_t> tandeoLocalStatus_{LOCAL_STATUS_IDLE};
    CaptureHandler captureHandler_ = {nullptr, nullptr};
    bool netStarted_ = false;

    static TandeoMgr *s_instance;
};
