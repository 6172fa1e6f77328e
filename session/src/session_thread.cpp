// The session thread: runs one connection from connect to close.
#include "session_thread.h"

#include <QDebug>
#include <algorithm>
#include <string>

#include "h239_info.h"
#include "media/capture.h"
#include "platform/clock.h"

namespace {

constexpr long kWaitUs = 40000;
constexpr std::size_t kReceiveSize = 32768;
constexpr int kConnectLimit = 6;
constexpr int kKeepAliveLimit = 8;

// The keep-alive count's clock: whole seconds that only ever go forward, so
// that setting the wall clock can neither hold the limits off nor bring
// them on early.
std::int64_t CountSeconds() { return plat::monotonicUs() / 1000000; }

enum class Ending { None, Lost, ConnectTimeout, ReceiveError, PeerClosed, FrameTooLong };

// Every ending but the final step's: reset the counters, log why (when a
// text is given), report the status.
void EndWith(CH239Info& s, const CallbackTarget& target, int connStatus, int line = 0, const char* why = nullptr) {
  s.kpaCount_ = 0;
  s.connStatus_ = connStatus;
  s.setH239Status(TDH239_IDLE);
  if (why) qInfo() << "SelectThread" << line << why;
  target.fire(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, connStatus);
}

// While streaming: when the desktop declined to hand out the screen, ask
// the device to stop and tell the caller, once per streaming run. The
// pairing stays.
void CheckCastRefused(CH239Info& s, const CallbackTarget& target, bool* said) {
  if (s.h239Status() != TDH239_ENCODING) {
    *said = false;
    return;
  }
  std::string why;
  if (*said || !s.capture_->castRefused(&why)) return;
  *said = true;
  qInfo() << "SelectThread" << __LINE__ << "screen capture refused, stopping the stream:" << why.c_str();
  s.SendControlMessage(TDMSG_STOP_ENCODING_REQ, 0, nullptr);
  target.fire(SELECT_THREAD_EVENT_CAPTURE_REFUSED, 0);
}

}  // namespace

std::uint32_t SelectThread(void* p) {
  SessionThreadStart start = *static_cast<SessionThreadStart*>(p);
  delete static_cast<SessionThreadStart*>(p);
  CH239Info& s = *start.session;
  const CallbackTarget target{start.userData, start.callback};
  const plat::Socket sock = start.socket;

  s.kpaCount_ = 0;
  bool connected = false;
  std::int64_t lastTick = CountSeconds();
  // Bytes of an unfinished frame from an earlier connection mean nothing here.
  s.recvBuffer_.clear();

  Ending ending = Ending::None;
  bool castRefusalSaid = false;  // once per streaming run
  while (start.running->load() != 0 && ending == Ending::None) {
    int ready = connected ? plat::waitReadable(sock, kWaitUs) : plat::waitWritable(sock, kWaitUs);

    std::int64_t now = CountSeconds();
    if (now - lastTick >= 1) {
      ++s.kpaCount_;
      lastTick = now;
    }
    if (connected) {
      if (s.kpaCount_ >= kKeepAliveLimit) {
        ending = Ending::Lost;
        break;
      }
      s.SendControlMessage(TDMSG_KEEPALIVE, 0, nullptr);
      CheckCastRefused(s, target, &castRefusalSaid);
    } else if (s.kpaCount_ >= kConnectLimit) {
      ending = Ending::ConnectTimeout;
      break;
    }

    if (ready <= 0) continue;
    if (!connected) {
      SendPairBanner(s);
      connected = true;
      continue;
    }

    std::size_t want = std::min(kReceiveSize, s.recvBuffer_.room());
    long n = plat::recvSome(sock, s.recvBuffer_.end(), want);
    if (n < 0) {
      if (plat::lastNetError() == plat::NetError::WouldBlock) continue;
      ending = Ending::ReceiveError;
      qInfo() << "SelectThread" << __LINE__ << plat::lastNetErrorCode();
      qInfo() << "SelectThread" << __LINE__ << n;
      break;
    }
    if (n == 0) {
      ending = Ending::PeerClosed;
      break;
    }

    int connBefore = s.connStatus_;
    int h239Before = s.h239Status();
    bool ok = OnRecvCommitted(target, s, static_cast<std::size_t>(n));
    int connAfter = s.connStatus_;
    if (connAfter != connBefore && connBefore == TDH239_CONNECTION_NONE) {
      target.fire(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, connAfter);
    }
    int h239After = s.h239Status();
    if (h239After != h239Before) {
      qInfo() << "SelectThread" << __LINE__ << "TDMSG THREAD: content status from " << h239Before << " to "
              << h239After;
      target.fire(SELECT_THREAD_EVENT_H239STATUS_CHANGE, h239After);
    }
    if (!ok) ending = Ending::FrameTooLong;
  }

  switch (ending) {
    case Ending::None: break;
    case Ending::Lost:
      EndWith(s, target, TDH239_CONNECTION_CLOSE, __LINE__, "GetKpaCount()>=8 and close connection!");
      break;
    case Ending::ConnectTimeout:
      EndWith(s, target, TDH239_CONNECTING_TIMEOUT, __LINE__, "GetKpaCount()>=8 and close connection!");
      break;
    case Ending::ReceiveError:
      EndWith(s, target, TDH239_CONNECTION_CLOSE);
      qInfo() << "SelectThread" << __LINE__ << "TDMSG THREAD: socket error";
      break;
    case Ending::PeerClosed:
      EndWith(s, target, TDH239_CONNECTION_CLOSE, __LINE__, "TDMSG THREAD: connection closed by peer");
      break;
    case Ending::FrameTooLong:
      EndWith(s, target, TDH239_CONNECTION_CLOSE, __LINE__, "TDMSG THREAD: frame too long, close connection");
      break;
  }

  qInfo() << "SelectThread" << __LINE__ << "before stop codec thread";
  s.StopCodecThread();
  qInfo() << "SelectThread" << __LINE__ << "after stop codec thread";
  s.kpaCount_ = 0;
  s.connStatus_ = TDH239_CONNECTION_CLOSE;
  s.setH239Status(TDH239_IDLE);
  // Only the socket this thread was started with: a later attempt's socket
  // is never touched.
  s.closeSocket(sock);
  start.running->store(0);
  return 0;
}
