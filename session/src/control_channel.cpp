// Socket set-up, framing of outgoing control messages, and the send lock.
#include <QDebug>
#include <cstring>
#include <mutex>

#include "h239_info.h"
#include "platform/clock.h"

namespace {
constexpr int kSocketBufferBytes = 131072;
// A device that stops reading must not stall every sender for ever: after
// this long without progress the connection is given up as lost.
constexpr std::int64_t kSendStallLimitUs = 4000000;
}  // namespace

plat::CriticalSection& sendLock() {
  // Process-wide and never destroyed, so no session's teardown can pull it
  // from under another sender.
  static plat::CriticalSection* lock = new plat::CriticalSection;
  return *lock;
}

bool CH239Info::InitConnectionSkt() {
  plat::Socket s = plat::tcpSocket();
  if (s == plat::kInvalidSocket) {
    qInfo() << "CH239Info::InitConnectionSkt" << __LINE__ << "INVALID_SOCKET";
    qInfo() << "CH239Info::InitConnectionSkt" << __LINE__ << plat::lastNetErrorCode();
  }
  qInfo() << "CH239Info::InitConnectionSkt" << __LINE__ << static_cast<long long>(s);
  bool nonBlocking = s != plat::kInvalidSocket && plat::setNonBlocking(s, true);
  qInfo() << "CH239Info::InitConnectionSkt" << __LINE__ << (nonBlocking ? 0 : -1) << plat::lastNetErrorCode();
  if (s == plat::kInvalidSocket) return false;
  if (!nonBlocking || !plat::setSendBufferSize(s, kSocketBufferBytes) ||
      !plat::setReceiveBufferSize(s, kSocketBufferBytes) || !plat::setNoDelay(s, true)) {
    plat::closeSocket(s);
    return false;
  }
  std::lock_guard<plat::CriticalSection> g(sendLock());
  socket_ = s;
  return true;
}

plat::Socket CH239Info::currentSocket() {
  std::lock_guard<plat::CriticalSection> g(sendLock());
  return socket_;
}

void CH239Info::closeSocket(plat::Socket s) {
  if (s == plat::kInvalidSocket) return;
  std::lock_guard<plat::CriticalSection> g(sendLock());
  plat::closeSocket(s);
  if (socket_ == s) socket_ = plat::kInvalidSocket;
}

bool CH239Info::SendControlMessage(std::uint32_t type, std::uint32_t length, const void* payload) {
  if (length > TD_MAX_SEND_PAYLOAD) return false;
  unsigned char frame[TD_FRAME_HEADER_SIZE + TD_MAX_SEND_PAYLOAD];
  td_put_be32(frame, type);
  td_put_be32(frame + 4, length);
  if (length > 0) std::memcpy(frame + TD_FRAME_HEADER_SIZE, payload, length);

  if (currentSocket() == plat::kInvalidSocket) return false;
  if (type != TDMSG_KEEPALIVE) {
    qInfo() << "CH239Info::SendControlMessage" << __LINE__ << plat::nowSeconds() << type;
  }
  // The socket is read again under the lock: the session thread may have
  // closed it since.
  std::lock_guard<plat::CriticalSection> g(sendLock());
  if (socket_ == plat::kInvalidSocket) return false;
  return TCPSend(socket_, frame, static_cast<long>(length) + TD_FRAME_HEADER_SIZE);
}

bool TCPSend(plat::Socket socket, const void* data, long length) {
  if (length <= 0) return true;
  auto* bytes = static_cast<const unsigned char*>(data);
  long sent = 0;
  std::int64_t lastProgress = plat::monotonicUs();
  while (sent < length) {
    plat::waitWritable(socket, 1000);
    long n = plat::sendSome(socket, bytes + sent, static_cast<std::size_t>(length - sent));
    if (n >= 0) {
      sent += n;
      if (n > 0) lastProgress = plat::monotonicUs();
      continue;
    }
    plat::NetError e = plat::lastNetError();
    if (e == plat::NetError::WouldBlock || e == plat::NetError::TryAgain) {
      if (plat::monotonicUs() - lastProgress < kSendStallLimitUs) continue;
      qInfo() << "TCPSend" << __LINE__ << "send stalled. len:" << length << "sent: " << sent;
      // End both directions: later sends fail at once and the session
      // thread reads end of stream, so the connection ends as lost.
      plat::shutdownBoth(socket);
      return false;
    }
    qInfo() << "TCPSend" << __LINE__ << "send error. len:" << length << "sent: " << sent << "errno: "
            << plat::lastNetErrorCode();
    return false;
  }
  return true;
}
