#include "app/tandeo_mgr.h"

#include "app/screen_metrics.h"
#include "platform/net.h"

#include <QByteArray>
#include <QDebug>

#include <algorithm>
#include <cstring>

TandeoMgr *TandeoMgr::s_instance = nullptr;

void TandeoMgr::createInstance()
{
    if (!s_instance)
        s_instance = new TandeoMgr;
}

TandeoMgr *TandeoMgr::instance()
{
    return s_instance;
}

void TandeoMgr::destroyInstance()
{
    if (s_instance) {
        delete s_instance;
        s_instance = nullptr;
    }
}

TandeoMgr::TandeoMgr()
    : QObject(nullptr)
{
    // The worker exists with or without a session, so that every slot can
    // queue on it; it only ever runs session calls.
    worker_ = new QObject;
    worker_->moveToThread(&workerThread_);
    workerThread_.setObjectName(QStringLiteral("tandeo-session-calls"));
    workerThread_.start();
    stopWait_.setSingleShot(true);
    stopWait_.setTimerType(Qt::PreciseTimer);
    stopWait_.setInterval(kStopAckWaitMs);
    connect(&stopWait_, &QTimer::timeout, this, &TandeoMgr::stopWaitOver);

    if (!plat::netStartup()) {
        qInfo() << "TandeoMgr::TandeoMgr" << __LINE__ << "WSAStartup error";
        return;
    }
    netStarted_ = true;

    sdkHandle_ = CreateTDSdkHandle();
    if (!sdkHandle_) {
        qInfo() << "TandeoMgr::TandeoMgr" << __LINE__ << "CreateTDSdkHandle error";
        return;
    }
    captureHandler_ = TDS_GetSetCaptureHandler(sdkHandle_);
    setStatus(LOCAL_STATUS_IDLE);

    DesktopMetrics metrics = primaryDesktopMetrics();
    TDS_SetSysMetric(sdkHandle_, metrics.width, metrics.height);
    qInfo() << "TandeoMgr::TandeoMgr" << __LINE__ << metrics.desktop.right << " " << metrics.desktop.bottom;
    captureHandler_.setCaptureArea(captureHandler_.capture, &metrics.desktop);
    captureArea_ = metrics.desktop;
    screens_ = desktopScreens();
    for (const ScreenArea &screen : qAsConst(screens_)) {
        if (screen.area.left == captureArea_.left && screen.area.top == captureArea_.top &&
            screen.area.right == captureArea_.right && screen.area.bottom == captureArea_.bottom)
            captureScreen_ = screen.name;
    }
    if (metrics.width > 0) {
        connect(&screenWatch_, &QTimer::timeout, this, &TandeoMgr::refreshScreens);
        screenWatch_.start(kScreenWatchMs);
    }

    // Queued whatever thread emits: the close is handled after the window
    // has heard of it.
    connect(this, SIGNAL(signal_connect_closed()), this, SLOT(slot_connect_closed()), Qt::QueuedConnection);
}

TandeoMgr::~TandeoMgr()
{
    // Calls still queued are dropped; the one under way ends within the
    // session's own limits. Then the handle goes, which ends a running
    // connection and its threads; no callback runs after it returns.
    workerThread_.quit();
    workerThread_.wait();
    delete worker_;
    DestroyTDSdkHandle(sdkHandle_);
    sdkHandle_ = nullptr;
    if (netStarted_)
        plat::netCleanup();
}

void TandeoMgr::onWorker(std::function<void()> job)
{
    QMetaObject::invokeMethod(worker_, std::move(job), Qt::QueuedConnection);
}

void TandeoMgr::emitForAttempt(int attempt, std::function<void()> emission)
{
    QMetaObject::invokeMethod(
        this,
        [this, attempt, emission] {
            bool current;
            {
                std::lock_guard<std::mutex> g(attemptLock_);
                current = attempt == attempt_;
            }
            if (current)
                emission();
        },
        Qt::QueuedConnection);
}

int TandeoMgr::newAttempt(bool over, LocalStatus status)
{
    std::lock_guard<std::mutex> g(attemptLock_);
    attemptOver_ = over;
    setStatus(status);
    return ++attempt_;
}

void TandeoMgr::slot_connect(QString strInfo)
{
    connectTo(strInfo, QByteArray());
}

void TandeoMgr::slot_connect_password(QString strInfo, QString password)
{
    connectTo(strInfo, password.toUtf8());
}

void TandeoMgr::connectTo(const QString &strInfo, const QByteArray &password)
{
    qInfo() << "TandeoMgr::slot_connect" << __LINE__ << "tandeoLocalStatus_ is " << localStatus();
    if (!sdkHandle_) {
        qInfo() << "TandeoMgr::slot_connect" << __LINE__ << "no session, cannot connect to peer " << strInfo;
        emit signal_connect_closed();
        return;
    }
    if (localStatus() == LOCAL_STATUS_CONNECTING) {
        qInfo() << "TandeoMgr::slot_connect" << __LINE__
                << "ConnectBtnClicked, but return as a connecting attempt is ongoing";
        return;
    }
    qInfo() << "TandeoMgr::slot_connect" << __LINE__ << "ConnectBtnClicked: trying to connect to peer " << strInfo;
    // Connecting from here on: results of the earlier attempt are dropped,
    // and a report of this one may arrive before the call below returns.
    const int attempt = newAttempt(false, LOCAL_STATUS_CONNECTING);
    const QByteArray address = strInfo.toUtf8();
    onWorker([this, attempt, address, password] {
        // Also when idle: a refused or closed attempt may leave its session
        // thread to be ended or reaped, and ended this way it reports nothing.
        TDS_Disconnect(sdkHandle_);
        char buffer[128] = {};
        std::memcpy(buffer, password.constData(), std::min<std::size_t>(password.size(), 63));
        TDS_SetPassword(sdkHandle_, buffer);
        std::memset(buffer, 0, sizeof buffer);
        liveAttempt_.store(attempt);
        const int result = TDS_AttemptToPair(sdkHandle_, address.constData(), this, &TandeoMgr::OnSelectThreadEvent);
        if (result == TDS_FAILED) {
            // Failed at once: there may be no session thread to report
            // anything, so the attempt ends here.
            TDS_Disconnect(sdkHandle_);
            liveAttempt_.store(0);
            QMetaObject::invokeMethod(this, [this, attempt] { pairFailedAtOnce(attempt); }, Qt::QueuedConnection);
        }
    });
    qInfo() << "TandeoMgr::slot_connect" << __LINE__ << "ConnectBtnClicked: tandeo peer is NOT connected";
}

void TandeoMgr::pairFailedAtOnce(int attempt)
{
    {
        std::lock_guard<std::mutex> g(attemptLock_);
        if (attempt != attempt_ || attemptOver_)
            return;
        attemptOver_ = true;
        setStatus(LOCAL_STATUS_IDLE);
    }
    qInfo() << "TandeoMgr::pairFailedAtOnce" << __LINE__ << "TDS_AttemptToPair failed, the attempt is over";
    emit signal_connect_failed();
}

void TandeoMgr::slot_disconnect()
{
    qInfo() << "TandeoMgr::slot_disconnect" << __LINE__ << "tandeoLocalStatus_ is " << localStatus();
    stopWait_.stop();
    newAttempt(true, LOCAL_STATUS_IDLE);
    if (sdkHandle_)
        onWorker([this] {
            TDS_Disconnect(sdkHandle_);
            liveAttempt_.store(0);
        });
    qInfo() << "TandeoMgr::slot_disconnect" << __LINE__ << "ConnectBtnClicked: sent request to disconnect from peer";
}

void TandeoMgr::slot_send()
{
    std::int32_t status = localStatus();
    qInfo() << "TandeoMgr::slot_send" << __LINE__ << "tandeoLocalStatus_ is " << status;
    if (status <= LOCAL_STATUS_CONNECTING) {
        qInfo() << "TandeoMgr::slot_send" << __LINE__ << "start share but not connected";
    } else if (status == LOCAL_STATUS_ENCODING) {
        qInfo() << "TandeoMgr::slot_send" << __LINE__ << "already encoding";
    } else if (status == LOCAL_STATUS_START_REQUESTED) {
        qInfo() << "TandeoMgr::slot_send" << __LINE__ << "already request start encoding";
    } else if (status == LOCAL_STATUS_CONNECTED) {
        // The status moves before the request goes out: the device's
        // acknowledgement may come back before the worker's call returns.
        {
            std::lock_guard<std::mutex> g(attemptLock_);
            if (localStatus() != LOCAL_STATUS_CONNECTED)
                return;
            setStatus(LOCAL_STATUS_START_REQUESTED);
        }
        onWorker([this] { TDS_ReqToStartEncoding(sdkHandle_); });
    }
}

void TandeoMgr::slot_stopsend()
{
    std::int32_t status = localStatus();
    qInfo() << "TandeoMgr::slot_stopsend" << __LINE__ << "tandeoLocalStatus_ is " << status;
    if (status == LOCAL_STATUS_ENCODING) {
        qInfo() << "TandeoMgr::slot_stopsend" << __LINE__ << "before TDS_ReqToStopEncoding";
        // The session stops the pictures at once; the window waits for the
        // device's acknowledgement, but not for ever.
        onWorker([this] { TDS_ReqToStopEncoding(sdkHandle_); });
        stopWait_.start();
    } else if (status == LOCAL_STATUS_IDLE) {
        if (sdkHandle_)
            onWorker([this] { TDS_Disconnect(sdkHandle_); });
        qInfo() << "TandeoMgr::slot_stopsend" << __LINE__ << "before signal_connect_closed ";
        emit signal_connect_closed();
        qInfo() << "TandeoMgr::slot_stopsend" << __LINE__ << "after signal_connect_closed ";
    }
}

void TandeoMgr::stopWaitOver()
{
    {
        std::lock_guard<std::mutex> g(attemptLock_);
        if (localStatus() != LOCAL_STATUS_ENCODING)
            return;
        setStatus(LOCAL_STATUS_CONNECTED);
    }
    qInfo() << "TandeoMgr::stopWaitOver" << __LINE__ << "no stop acknowledgement from peer within"
            << kStopAckWaitMs << "ms; sharing stopped";
    emit signal_stopsend_succeed();
}

void TandeoMgr::slot_connect_closed()
{
    std::int32_t status = localStatus();
    qInfo() << "TandeoMgr::slot_connect_closed" << __LINE__ << "tandeoLocalStatus_ is " << status;
    // This runs some time after the close was announced. A status other than
    // idle means a newer attempt has started since (and already ended the
    // old thread); disconnecting now would end that attempt silently.
    if (sdkHandle_ && status == LOCAL_STATUS_IDLE)
        onWorker([this] {
            if (localStatus() == LOCAL_STATUS_IDLE)
                TDS_Disconnect(sdkHandle_);
        });
}

void TandeoMgr::slot_choose_screen(QString name)
{
    qInfo() << "TandeoMgr::slot_choose_screen" << __LINE__ << "share screen " << name;
    chosenScreen_ = name;
    applyCaptureArea();
}

void TandeoMgr::refreshScreens()
{
    const QList<ScreenArea> now = desktopScreens();
    if (now.isEmpty() || now == screens_)
        return;
    screens_ = now;
    applyCaptureArea();
    emit signal_screens_changed();
}

void TandeoMgr::applyCaptureArea()
{
    if (!sdkHandle_)
        return;
    // The chosen monitor, else the primary one, else the first.
    const ScreenArea *pick = nullptr;
    for (const ScreenArea &screen : qAsConst(screens_)) {
        if (!chosenScreen_.isEmpty() && screen.name == chosenScreen_)
            pick = &screen;
    }
    for (const ScreenArea &screen : qAsConst(screens_)) {
        if (!pick && screen.primary)
            pick = &screen;
    }
    if (!pick && !screens_.isEmpty())
        pick = &screens_.front();
    if (!pick)
        return;
    const TDS_RECT area = pick->area;
    captureScreen_ = pick->name;
    if (area.left == captureArea_.left && area.top == captureArea_.top && area.right == captureArea_.right &&
        area.bottom == captureArea_.bottom)
        return;
    captureArea_ = area;
    qInfo() << "TandeoMgr::applyCaptureArea" << __LINE__ << "capture area" << captureScreen_ << area.left << area.top
            << area.right << area.bottom;
    // Takes only the capture's own lock, around an assignment.
    TDS_SetSysMetric(sdkHandle_, area.right - area.left, area.bottom - area.top);
    captureHandler_.setCaptureArea(captureHandler_.capture, &area);
}

void TDS_CALL TandeoMgr::OnSelectThreadEvent(void *userData, int event, int value)
{
    static_cast<TandeoMgr *>(userData)->SelectThreadCallback(event, value);
}

void TandeoMgr::SelectThreadCallback(int event, int value)
{
    printParam(event, value);

    if (event == SELECT_THREAD_EVENT_H239STATUS_CHANGE) {
        qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "status change to " << value;
        switch (value) {
        case TDH239_CONNECTED:
            qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "status change to TDH239_CONNECTED";
            break;
        case TDH239_AUTHORIZED:
            qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "status change to TDH239_AUTHORIZED";
            break;
        case TDH239_ENCODING:
            qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "status change to TDH239_ENCODING";
            break;
        case TDH239_DECODING:
            qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "status change to TDH239_DECODING";
            break;
        default:
            break;
        }
        return;
    }

    const int reason = event == SELECT_THREAD_EVENT_CONNSTATUS_CHANGE && value == TDH239_CONNECTION_REJECTED
                           ? TDS_GetPairRejectedReason(sdkHandle_)
                           : 0;
    const int live = liveAttempt_.load();
    std::function<void()> emission;
    bool stopUnrequested = false;
    {
        std::lock_guard<std::mutex> g(attemptLock_);
        if (live != attempt_ || attemptOver_) {
            qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "event of an ended attempt, ignored";
            return;
        }
        switch (event) {
        case SELECT_THREAD_EVENT_CONNSTATUS_CHANGE:
            switch (value) {
            case TDH239_CONNECTION_OK:
                setStatus(LOCAL_STATUS_CONNECTED);
                emission = [this] { emit signal_connect_succeed(); };
                break;
            case TDH239_CONNECTION_REJECTED:
                // Idle before the window hears of it, so that its next
                // connect command is not taken for a repeat. The refused
                // connection is ended by the manager: its close is no news.
                setStatus(LOCAL_STATUS_IDLE);
                attemptOver_ = true;
                emission = [this, reason] {
                    onWorker([this] {
                        if (localStatus() == LOCAL_STATUS_IDLE)
                            TDS_Disconnect(sdkHandle_);
                    });
                    emit signal_connect_rejected(reason);
                };
                break;
            case TDH239_CONNECTING_TIMEOUT:
                setStatus(LOCAL_STATUS_IDLE);
                attemptOver_ = true;
                emission = [this] { emit signal_connect_timeout(); };
                break;
            case TDH239_CONNECTION_CLOSE:
                qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "before signal_connect_closed ";
                setStatus(LOCAL_STATUS_IDLE);
                attemptOver_ = true;
                emission = [this] {
                    stopWait_.stop();
                    emit signal_connect_closed();
                    qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "after signal_connect_closed ";
                };
                break;
            default:
                break;
            }
            break;

        case SELECT_THREAD_EVENT_START_ENC:
            if (localStatus() == LOCAL_STATUS_START_REQUESTED) {
                setStatus(LOCAL_STATUS_ENCODING);
                emission = [this] { emit signal_send_succeed(); };
            } else {
                // Not asked for: stop it at once.
                stopUnrequested = true;
                if (localStatus() == LOCAL_STATUS_ENCODING)
                    setStatus(LOCAL_STATUS_CONNECTED);
            }
            break;

        case SELECT_THREAD_EVENT_CAPTURE_REFUSED:
            // The session has asked the device to stop; its acknowledgement
            // returns the window to the connected state.
            qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "SELECT_THREAD_EVENT_CAPTURE_REFUSED";
            emission = [this] { emit signal_capture_refused(); };
            break;

        case SELECT_THREAD_EVENT_STOP_ENC: {
            std::int32_t status = localStatus();
            qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "SELECT_THREAD_EVENT_STOP_ENC" << status;
            if (status == LOCAL_STATUS_START_REQUESTED || status == LOCAL_STATUS_ENCODING) {
                setStatus(LOCAL_STATUS_CONNECTED);
                emission = [this] {
                    stopWait_.stop();
                    qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "emit signal_stopsend_succeed";
                    emit signal_stopsend_succeed();
                };
            }
            break;
        }

        default:
            break;
        }
    }
    // Allowed from inside the callback: it takes only the send lock.
    if (stopUnrequested)
        TDS_ReqToStopEncoding(sdkHandle_);
    if (emission)
        emitForAttempt(live, std::move(emission));
}

void TandeoMgr::printParam(int event, int value)
{
    switch (event) {
    case SELECT_THREAD_EVENT_CONNSTATUS_CHANGE:
        qInfo() << "TandeoMgr::printParam" << __LINE__ << "event SELECT_THREAD_EVENT_CONNSTATUS_CHANGE";
        switch (value) {
        case TDH239_CONNECTION_REJECTED:
            qInfo() << "TandeoMgr::printParam" << __LINE__ << "value TDH239_CONNECTION_REJECTED";
            break;
        case TDH239_CONNECTION_OK:
            qInfo() << "TandeoMgr::printParam" << __LINE__ << "value TDH239_CONNECTION_OK";
            break;
        case TDH239_CONNECTING_TIMEOUT:
            qInfo() << "TandeoMgr::printParam" << __LINE__ << "value TDH239_CONNECTING_TIMEOUT";
            break;
        case TDH239_CONNECTION_CLOSE:
            qInfo() << "TandeoMgr::printParam" << __LINE__ << "value TDH239_CONNECTION_CLOSE";
            break;
        default:
            qInfo() << "TandeoMgr::printParam" << __LINE__ << "value invalid";
            break;
        }
        break;
    case SELECT_THREAD_EVENT_H239STATUS_CHANGE:
        qInfo() << "TandeoMgr::printParam" << __LINE__ << "event SELECT_THREAD_EVENT_H239STATUS_CHANGE";
        break;
    case SELECT_THREAD_EVENT_START_ENC:
        qInfo() << "TandeoMgr::printParam" << __LINE__ << "event SELECT_THREAD_EVENT_START_ENC";
        break;
    case SELECT_THREAD_EVENT_STOP_ENC:
        qInfo() << "TandeoMgr::printParam" << __LINE__ << "event SELECT_THREAD_EVENT_STOP_ENC";
        break;
    case SELECT_THREAD_EVENT_CAPTURE_REFUSED:
        qInfo() << "TandeoMgr::printParam" << __LINE__ << "event SELECT_THREAD_EVENT_CAPTURE_REFUSED";
        break;
    default:
        qInfo() << "TandeoMgr::printParam" << __LINE__ << "event invalid";
        break;
    }
}
