// The exported session interface.
#include <QDebug>
#include <cstring>
#include <new>

#include "h239_info.h"
#include "media/capture.h"
#include "session_thread.h"

namespace {

CH239Info* Session(TDSdkHandle h) { return static_cast<CH239Info*>(h); }

void TDS_CALL SetCaptureAreaOf(void* capture, const TDS_RECT* area) {
  CaptureRect r{area->left, area->top, area->right, area->bottom};
  SetCaptureArea(static_cast<CCapture*>(capture), &r);
}

}  // namespace

extern "C" {

TDS_API TDSdkHandle TDS_CALL CreateTDSdkHandle(void) { return new (std::nothrow) CH239Info; }

TDS_API void TDS_CALL DestroyTDSdkHandle(TDSdkHandle handle) { delete Session(handle); }

TDS_API void TDS_CALL TDS_SetPassword(TDSdkHandle handle, const char* password64) {
  std::memcpy(Session(handle)->password_, password64, TD_PASSWORD_SIZE);
}

TDS_API void TDS_CALL TDS_SetSysMetric(TDSdkHandle handle, int32_t width, int32_t height) {
  Session(handle)->screenWidth_ = width;
  Session(handle)->screenHeight_ = height;
}

TDS_API CaptureHandler TDS_CALL TDS_GetSetCaptureHandler(TDSdkHandle handle) {
  return CaptureHandler{Session(handle)->capture_.get(), &SetCaptureAreaOf};
}

TDS_API int32_t TDS_CALL TDS_AttemptToPair(TDSdkHandle handle, const char* address, void* userData,
                                           SelectThreadCallbackFn callback) {
  CH239Info& s = *Session(handle);
  // An earlier thread is only waited for (the caller tells it to end with
  // TDS_Disconnect). Waiting comes first: its final step resets the status
  // and closes its socket, which must not hit this attempt.
  plat::joinThread(s.sessionThread_);
  s.connStatus_ = TDH239_CONNECTION_NONE;
  s.closeSocket(s.currentSocket());
  if (!s.InitConnectionSkt()) return TDS_FAILED;

  plat::Socket sock = s.currentSocket();
  s.running_ = 1;
  auto* start = new SessionThreadStart{userData, callback, &s.running_, sock, &s};
  s.sessionThread_ = plat::startThread(&SelectThread, start);
  if (!s.sessionThread_.valid()) {
    delete start;
    s.running_ = 0;
    s.closeSocket(sock);
    return TDS_FAILED;
  }

  int32_t result = TDS_OK;
  if (plat::connectIPv4(sock, plat::ipv4FromText(address), static_cast<std::uint16_t>(s.port_)) != 0) {
    result = plat::lastNetError() == plat::NetError::WouldBlock ? TDS_PENDING : TDS_FAILED;
  }
  qInfo() << "TDS_AttemptToPair" << __LINE__ << "Attempting to pair to " << (address ? address : "");
  return result;
}

TDS_API void TDS_CALL TDS_Disconnect(TDSdkHandle handle) {
  CH239Info& s = *Session(handle);
  s.running_ = 0;
  plat::joinThread(s.sessionThread_);
}

TDS_API int32_t TDS_CALL TDS_GetPairRejectedReason(TDSdkHandle handle) { return Session(handle)->rejectedReason_; }

TDS_API void TDS_CALL TDS_ReqToStartEncoding(TDSdkHandle handle) {
  Session(handle)->ForgetStoppedStream();
  Session(handle)->SendControlMessage(TDMSG_START_ENCODING_REQ, 0, nullptr);
  qInfo() << "TDS_ReqToStartEncoding" << __LINE__ << "Sent start-encoding request to peer";
}

TDS_API void TDS_CALL TDS_ReqToStopEncoding(TDSdkHandle handle) {
  // Pictures stop first; the request follows them, not the other way round.
  Session(handle)->StopFeeding();
  Session(handle)->SendControlMessage(TDMSG_STOP_ENCODING_REQ, 0, nullptr);
  qInfo() << "TDS_ReqToStopEncoding" << __LINE__ << "Sent stop-encoding request to peer";
}

}  // extern "C"
