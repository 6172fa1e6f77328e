#include "platform/net.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "platform/clock.h"

namespace plat {

namespace {
thread_local int tlsError = 0;

long failed() {
  tlsError = errno;
  return -1;
}

int toFd(Socket s) { return static_cast<int>(s); }

int waitFor(Socket s, long timeoutUs, bool write) {
  return waitReady(s, write ? Readiness::Writable : Readiness::Readable, timeoutUs);
}
}  // namespace

NetError lastNetError() {
  switch (tlsError) {
    case 0: return NetError::None;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
    case EALREADY: return NetError::WouldBlock;
    case EINTR:
    case ENOBUFS: return NetError::TryAgain;
    default: return NetError::Other;
  }
}

int lastNetErrorCode() { return tlsError; }

bool netStartup() { return true; }
void netCleanup() {}

Socket tcpSocket() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return failed();
  return fd;
}

bool setNonBlocking(Socket s, bool on) {
  int flags = fcntl(toFd(s), F_GETFL, 0);
  if (flags < 0) return failed(), false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (fcntl(toFd(s), F_SETFL, flags) < 0) return failed(), false;
  tlsError = 0;
  return true;
}

bool setSendBufferSize(Socket s, int bytes) {
  if (setsockopt(toFd(s), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) < 0) return failed(), false;
  return true;
}

bool setReceiveBufferSize(Socket s, int bytes) {
  if (setsockopt(toFd(s), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) < 0) return failed(), false;
  return true;
}

bool setNoDelay(Socket s, bool on) {
  int v = on ? 1 : 0;
  if (setsockopt(toFd(s), IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) < 0) return failed(), false;
  return true;
}

bool noDelay(Socket s) {
  int v = 0;
  socklen_t len = sizeof v;
  return getsockopt(toFd(s), IPPROTO_TCP, TCP_NODELAY, &v, &len) == 0 && v != 0;
}

// SIOCOUTQ rather than SIOCOUTQNSD (not yet sent only): on a link narrower
// than what is sent, the queue builds in the network (a router's buffer, a
// shaper) as much as in the send buffer, and both delay the next message.
// Winsock has no such query: the Windows back-end answers -1 (unknown). It
// could count the bytes handed to send() and subtract those acknowledged,
// from WSAIoctl(SIO_TCP_INFO) (TCP_INFO_v0: BytesOut less BytesRetrans less
// BytesInFlight), on the systems that have it (not wine).
long unsentBytes(Socket s) {
  int n = 0;
  if (ioctl(toFd(s), SIOCOUTQ, &n) < 0) return failed();
  return n;
}

void closeSocket(Socket s) {
  if (s != kInvalidSocket) close(toFd(s));
}

std::uint32_t ipv4FromText(const char* text) {
  in_addr a{};
  if (!text || inet_pton(AF_INET, text, &a) != 1) return kNoAddress;
  return a.s_addr;
}

int connectIPv4(Socket s, std::uint32_t addr, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = addr;
  if (connect(toFd(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return 0;
  failed();
  return -1;
}

// poll rather than select: select cannot watch a descriptor at or above
// FD_SETSIZE, which a process with many files open hands out.
int waitReady(Socket s, Readiness what, long timeoutUs) {
  if (toFd(s) < 0) {
    tlsError = EBADF;
    return -1;
  }
  pollfd p{toFd(s), static_cast<short>(what == Readiness::Writable ? POLLOUT : POLLIN), 0};
  // Whole milliseconds, rounded up, so a short wait is never a busy one.
  int timeoutMs = timeoutUs < 0 ? -1 : static_cast<int>(std::min<long>((timeoutUs + 999) / 1000, INT_MAX));
  int r = poll(&p, 1, timeoutMs);
  if (r < 0) return failed();
  if (r > 0 && (p.revents & POLLNVAL)) {
    tlsError = EBADF;
    return -1;
  }
  return r;
}

int waitWritable(Socket s, long timeoutUs) {
  std::int64_t start = monotonicUs();
  int r = waitFor(s, timeoutUs, true);
  if (r <= 0) return r;
  // A failed non-blocking connect shows as writable here, but a socket that
  // never connected has no peer; report it as not ready and use up the
  // time-out, so that callers pace themselves as on a still-pending connect.
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  if (getpeername(toFd(s), reinterpret_cast<sockaddr*>(&peer), &len) == 0) return r;
  long left = timeoutUs - static_cast<long>(monotonicUs() - start);
  if (left > 0) usleep(static_cast<useconds_t>(left));
  return 0;
}

int waitReadable(Socket s, long timeoutUs) { return waitFor(s, timeoutUs, false); }

long sendSome(Socket s, const void* data, std::size_t length) {
  ssize_t n = send(toFd(s), data, length, MSG_NOSIGNAL);
  if (n < 0) return failed();
  return n;
}

long recvSome(Socket s, void* data, std::size_t length) {
  ssize_t n = recv(toFd(s), data, length, 0);
  if (n < 0) return failed();
  return n;
}

Socket listenTcp(const char* addr, std::uint16_t port, int backlog) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return failed();
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = ipv4FromText(addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0 || listen(fd, backlog) < 0) {
    failed();
    close(fd);
    return kInvalidSocket;
  }
  return fd;
}

Socket acceptConnection(Socket listener, long timeoutUs) {
  if (timeoutUs >= 0 && waitFor(listener, timeoutUs, false) <= 0) return kInvalidSocket;
  int fd = accept4(toFd(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return failed();
  return fd;
}

void resetAndClose(Socket s) {
  linger l{1, 0};
  setsockopt(toFd(s), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(toFd(s));
}

void shutdownSend(Socket s) { shutdown(toFd(s), SHUT_WR); }

void shutdownBoth(Socket s) { shutdown(toFd(s), SHUT_RDWR); }

}  // namespace plat
