#include "h239_info.h"

#include <mutex>

#include "media/capture.h"
#include "media/codec_thread.h"

CH239Info::CH239Info() : capture_(new CCapture) { sendLock(); }

CH239Info::~CH239Info() {
  // The session thread's own ending stops the codec thread and closes the
  // socket; here it is only told to end and waited for.
  running_ = 0;
  plat::joinThread(sessionThread_);
}

int CH239Info::h239Status() {
  std::lock_guard<plat::CriticalSection> g(statusLock_);
  return h239Status_;
}

void CH239Info::setH239Status(int status) {
  std::lock_guard<plat::CriticalSection> g(statusLock_);
  h239Status_ = status;
}

void CH239Info::StopCodecThread() {
  // The stop request goes out only while pictures still flow; a codec thread
  // already told to stop (the caller's stop request) is only reaped. Only
  // this, the session thread, waits for the codec thread.
  if (codecRunning_ != 0) {
    SendControlMessage(TDMSG_STOP_ENCODING_REQ, 0, nullptr);
    codecRunning_ = 0;
  }
  plat::joinThread(codecThread_);
  // No thread grabs now: a screen cast of this run ends with it.
  capture_->EndCast();
}

bool CH239Info::StopFeeding() {
  // Cleared before the caller's stop request takes the send lock: from then
  // on sendMessage refuses the codec thread's packets, so the request is the
  // last thing of this stream on the wire.
  return codecRunning_.exchange(0) != 0;
}

void CH239Info::ForgetStoppedStream() {
  // A stop that the device never acknowledged leaves the status at encoding
  // with no codec thread; the next start acknowledgement must start one.
  std::lock_guard<plat::CriticalSection> g(statusLock_);
  if (h239Status_ == TDH239_ENCODING && codecRunning_ == 0) h239Status_ = TDH239_AUTHORIZED;
}

void CH239Info::StartCodecThread() {
  // A codec thread left from an earlier start (an acceptance during encoding
  // leaves one) is ended first.
  if (codecThread_.valid()) {
    codecRunning_ = 0;
    plat::joinThread(codecThread_);
    capture_->EndCast();
  }
  codecRunning_ = 1;
  auto* start = new CodecThreadStart{&frameEvent_, currentSocket(), this};
  codecThread_ = plat::startThread(&CodecThread, start);
  if (!codecThread_.valid()) {
    delete start;
    codecRunning_ = 0;
  }
}

void CH239Info::storeEncodingParams(const EncodingParams& params) {
  std::lock_guard<plat::CriticalSection> g(codecLock_);
  paramsChanged_ = 1;
  encParams_ = params;
}

EncodingParams CH239Info::copyEncodingParams() {
  std::lock_guard<plat::CriticalSection> g(codecLock_);
  return encParams_;
}

void CH239Info::clearParamsChanged() {
  std::lock_guard<plat::CriticalSection> g(codecLock_);
  paramsChanged_ = 0;
}

std::int32_t CH239Info::takeVfuRequest() {
  std::lock_guard<plat::CriticalSection> g(codecLock_);
  std::int32_t v = vfuRequested_;
  vfuRequested_ = 0;
  return v;
}

bool CH239Info::sendMessage(plat::Socket socket, const unsigned char* message, long length) {
  std::lock_guard<plat::CriticalSection> g(sendLock());
  // A stream the caller has stopped sends nothing more, not even the rest of
  // the picture under way.
  if (codecRunning_ == 0) return false;
  // The session thread closes the socket only after this thread has ended;
  // the check keeps a stray send off a socket that is gone all the same.
  if (socket == plat::kInvalidSocket || socket != socket_) return false;
  return TCPSend(socket, message, length);
}
