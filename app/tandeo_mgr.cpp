#include "app/tandeo_mgr.h"

#include "app/screen_metrics.h"
#include "platform/net.h"

#include <QByteArray>
#include <QDebug>

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

    // Queued whatever thread emits: the slot waits for the session thread,
    // so it must never run on it.
    connect(this, SIGNAL(signal_connect_closed()), this, SLOT(slot_connect_closed()), Qt::QueuedConnection);
}

TandeoMgr::~TandeoMgr()
{
    // Ending a running connection is the session's business: destroying the
    // handle stops its threads, and no callback runs after it returns.
    DestroyTDSdkHandle(sdkHandle_);
    sdkHandle_ = nullptr;
    if (netStarted_)
        plat::netCleanup();
}

void TandeoMgr::slot_connect(QString strInfo)
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
    // Also when idle: a rejected attempt leaves its session thread running
    // until the device hangs up or its keep-alive limit passes. Pairing
    // would wait for that thread here, on the GUI thread, and its late close
    // would be reported in the middle of the new attempt. Ended this way it
    // reports nothing; with no thread the call returns at once.
    TDS_Disconnect(sdkHandle_);
    setStatus(LOCAL_STATUS_IDLE);

    char password[128] = {};
    TDS_SetPassword(sdkHandle_, password);

    qInfo() << "TandeoMgr::slot_connect" << __LINE__ << "ConnectBtnClicked: trying to connect to peer " << strInfo;
    const QByteArray address = strInfo.toUtf8();
    // Set before the call: the session thread may report the result before
    // TDS_AttemptToPair returns, and that report must stand.
    setStatus(LOCAL_STATUS_CONNECTING);
    TDS_AttemptToPair(sdkHandle_, address.constData(), this, &TandeoMgr::OnSelectThreadEvent);
    qInfo() << "TandeoMgr::slot_connect" << __LINE__ << "ConnectBtnClicked: tandeo peer is NOT connected";
}

void TandeoMgr::slot_disconnect()
{
    qInfo() << "TandeoMgr::slot_disconnect" << __LINE__ << "tandeoLocalStatus_ is " << localStatus();
    if (sdkHandle_)
        TDS_Disconnect(sdkHandle_);
    setStatus(LOCAL_STATUS_IDLE);
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
        // acknowledgement may reach the session thread before the request
        // call returns, and must find the request recorded. A session event
        // that changed the status meanwhile wins.
        std::int32_t expected = LOCAL_STATUS_CONNECTED;
        if (tandeoLocalStatus_.compare_exchange_strong(expected, LOCAL_STATUS_START_REQUESTED))
            TDS_ReqToStartEncoding(sdkHandle_);
    }
}

void TandeoMgr::slot_stopsend()
{
    std::int32_t status = localStatus();
    qInfo() << "TandeoMgr::slot_stopsend" << __LINE__ << "tandeoLocalStatus_ is " << status;
    if (status == LOCAL_STATUS_ENCODING) {
        qInfo() << "TandeoMgr::slot_stopsend" << __LINE__ << "before TDS_ReqToStopEncoding";
        TDS_ReqToStopEncoding(sdkHandle_);
    } else if (status == LOCAL_STATUS_IDLE) {
        if (sdkHandle_)
            TDS_Disconnect(sdkHandle_);
        qInfo() << "TandeoMgr::slot_stopsend" << __LINE__ << "before signal_connect_closed ";
        emit signal_connect_closed();
        qInfo() << "TandeoMgr::slot_stopsend" << __LINE__ << "after signal_connect_closed ";
    }
}

void TandeoMgr::slot_connect_closed()
{
    std::int32_t status = localStatus();
    qInfo() << "TandeoMgr::slot_connect_closed" << __LINE__ << "tandeoLocalStatus_ is " << status;
    // This runs some time after the close was announced. A status other than
    // idle means a newer attempt has started since (and already ended the
    // old thread); disconnecting now would end that attempt silently.
    if (sdkHandle_ && status == LOCAL_STATUS_IDLE)
        TDS_Disconnect(sdkHandle_);
}

void TDS_CALL TandeoMgr::OnSelectThreadEvent(void *userData, int event, int value)
{
    static_cast<TandeoMgr *>(userData)->SelectThreadCallback(event, value);
}

void TandeoMgr::SelectThreadCallback(int event, int value)
{
    printParam(event, value);

    switch (event) {
    case SELECT_THREAD_EVENT_CONNSTATUS_CHANGE:
        switch (value) {
        case TDH239_CONNECTION_OK:
            setStatus(LOCAL_STATUS_CONNECTED);
            emit signal_connect_succeed();
            break;
        case TDH239_CONNECTION_REJECTED: {
            int reason = TDS_GetPairRejectedReason(sdkHandle_);
            // Idle before the window hears of it, so that its next connect
            // command is not taken for a repeat.
            setStatus(LOCAL_STATUS_IDLE);
            emit signal_connect_rejected(reason);
            break;
        }
        case TDH239_CONNECTING_TIMEOUT:
            setStatus(LOCAL_STATUS_IDLE);
            emit signal_connect_timeout();
            break;
        case TDH239_CONNECTION_CLOSE:
            qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "before signal_connect_closed ";
            if (tandeoLocalStatus_.exchange(LOCAL_STATUS_IDLE) == LOCAL_STATUS_IDLE) {
                qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "before signal_connect_closed ";
                emit signal_connect_closed();
            } else {
                qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "before signal_connect_closed ";
                emit signal_connect_closed();
                qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "after signal_connect_closed ";
            }
            break;
        default:
            break;
        }
        break;

    case SELECT_THREAD_EVENT_H239STATUS_CHANGE:
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
        break;

    case SELECT_THREAD_EVENT_START_ENC: {
        std::int32_t status = LOCAL_STATUS_START_REQUESTED;
        if (tandeoLocalStatus_.compare_exchange_strong(status, LOCAL_STATUS_ENCODING)) {
            emit signal_send_succeed();
        } else {
            // Not asked for: stop it at once. A send command that moved the
            // status meanwhile keeps its request.
            TDS_ReqToStopEncoding(sdkHandle_);
            tandeoLocalStatus_.compare_exchange_strong(status, LOCAL_STATUS_CONNECTED);
        }
        break;
    }

    case SELECT_THREAD_EVENT_CAPTURE_REFUSED:
        // The session has asked the device to stop; its acknowledgement
        // returns the window to the connected state.
        qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "SELECT_THREAD_EVENT_CAPTURE_REFUSED";
        emit signal_capture_refused();
        break;

    case SELECT_THREAD_EVENT_STOP_ENC: {
        std::int32_t status = localStatus();
        qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "SELECT_THREAD_EVENT_STOP_ENC" << status;
        while (status == LOCAL_STATUS_START_REQUESTED || status == LOCAL_STATUS_ENCODING) {
            if (tandeoLocalStatus_.compare_exchange_weak(status, LOCAL_STATUS_CONNECTED)) {
                qInfo() << "TandeoMgr::SelectThreadCallback" << __LINE__ << "emit signal_stopsend_succeed";
                emit signal_stopsend_succeed();
                break;
            }
        }
        break;
    }

    default:
        break;
    }
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
