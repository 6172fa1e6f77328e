#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "app/screen_metrics.h"
#include "tdsdk.h"

// The application's one session manager. It owns the session handle for the
// life of the process, turns the main window's four commands into calls of
// the session interface, and turns the session thread's status callbacks
// into signals, which Qt's automatic connections deliver on the GUI thread.
//
// Every session call that may wait on the network (pairing, disconnecting,
// the start and stop requests, which take the send lock) runs in order on a
// worker thread of the manager, so the GUI thread never waits for a device.
// The callback's results reach the window only while the attempt they
// belong to is the one the user wants: a cancelled, refused or replaced
// attempt says nothing more.
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

    // How long a stop request waits for the device's acknowledgement before
    // the manager counts sharing as stopped (the stream itself stops at once).
    static constexpr int kStopAckWaitMs = 3000;
    // How often the display's monitors are read again, so that the capture
    // follows a change of their size or arrangement.
    static constexpr int kScreenWatchMs = 1000;

    // The monitors of the display and the one that is shared (its name).
    QList<ScreenArea> screens() const { return screens_; }
    QString captureScreen() const { return captureScreen_; }

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
    // The monitors changed (added, removed, moved or resized).
    void signal_screens_changed();
    // The desktop declined to hand out the screen; sharing stops, the
    // pairing stays.
    void signal_capture_refused();

private slots:
    void slot_connect(QString strInfo);
    // A pairing with a password (the device refused the last one); the
    // password lives only in memory and in the session.
    void slot_connect_password(QString strInfo, QString password);
    void slot_disconnect();
    void slot_send();
    void slot_stopsend();
    void slot_connect_closed();
    // Share this monitor from now on (an empty name: the primary one).
    void slot_choose_screen(QString name);

private:
    TandeoMgr();
    ~TandeoMgr() override;
    Q_DISABLE_COPY(TandeoMgr)

    // The session's callback: runs on the session thread.
    static void TDS_CALL OnSelectThreadEvent(void *userData, int event, int value);
    void SelectThreadCallback(int event, int value);
    void printParam(int event, int value);

    void setStatus(LocalStatus s) { tandeoLocalStatus_.store(s); }

    void connectTo(const QString &strInfo, const QByteArray &password);
    // Queues a session call on the worker thread, after the earlier ones.
    void onWorker(std::function<void()> job);
    // Emits on the GUI thread, unless a newer command has ended the attempt
    // in the meantime.
    void emitForAttempt(int attempt, std::function<void()> emission);
    // The user's connect or disconnect: a new attempt number, the old
    // attempt's results are dropped from now on.
    int newAttempt(bool over, LocalStatus status);
    void pairFailedAtOnce(int attempt);
    void stopWaitOver();
    void refreshScreens();
    // Points the capture at the chosen monitor as it is now.
    void applyCaptureArea();

    TDSdkHandle sdkHandle_ = nullptr;
    // Written by the slots (GUI thread) and by the callback (session thread).
    std::atomic<std::int32_t> tandeoLocalStatus_{LOCAL_STATUS_IDLE};
    // The attempt the user wants (changed by each connect and disconnect),
    // whether it has already ended, and the status changes that go with
    // them: the slots and the callback take them together under this lock,
    // which guards only these assignments.
    std::mutex attemptLock_;
    int attempt_ = 0;
    bool attemptOver_ = true;
    // The attempt whose session thread runs; set by the worker before it
    // starts the thread and after it has ended it.
    std::atomic<int> liveAttempt_{0};
    QThread workerThread_;
    QObject *worker_ = nullptr;
    QTimer stopWait_;

    QList<ScreenArea> screens_;
    QString chosenScreen_;
    QString captureScreen_;
    TDS_RECT captureArea_ = {0, 0, 0, 0};
    QTimer screenWatch_;
    CaptureHandler captureHandler_ = {nullptr, nullptr};
    bool netStarted_ = false;

    static TandeoMgr *s_instance;
};
