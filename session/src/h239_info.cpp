#include "h239_info.h"

#include <mutex>

#include "media/capture.h"

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
  if (codecRunning_ == 0) return;
  SendControlMessage(TDMSG_STOP_ENCODING_REQ, 0, nullptr);
  codecRunning_ = 0;
  plat::joinThread(codecThread_);
}
