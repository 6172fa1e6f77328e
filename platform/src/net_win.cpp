// Winsock 2 back-end of the sockets.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>

#include "platform/clock.h"
#include "platform/net.h"

namespace plat {

namespace {
thread_local int tlsError = 0;

long failed() {
  tlsError = WSAGetLastError();
  return -1;
}

SOCKET toSocket(Socket s) { return static_cast<SOCKET>(s); }

// Sockets are kernel handles on Windows: keep them out of child processes,
// as close-on-exec does elsewhere.
void noInherit(SOCKET s) { SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0); }

// Sockets that shutdownBoth ended, until they are closed. Winsock never
// reports them readable, while their reader must see end of stream: the
// waits report them ready at once and recvSome gives 0. Handle 0 is never a
// socket, so it marks a free slot; with every slot taken, a socket is left
// to Winsock's own reports.
constexpr int kShutSlots = 32;
std::atomic<SOCKET> shutSockets[kShutSlots];

void rememberShut(SOCKET s) {
  for (auto& slot : shutSockets) {
    SOCKET expected = 0;
    if (slot.load(std::memory_order_relaxed) == s || slot.compare_exchange_strong(expected, s)) return;
  }
}

bool isShut(SOCKET s) {
  for (const auto& slot : shutSockets) {
    if (slot.load(std::memory_order_relaxed) == s) return true;
  }
  return false;
}

void forgetShut(SOCKET s) {
  for (auto& slot : shutSockets) {
    SOCKET expected = s;
    slot.compare_exchange_strong(expected, 0);
  }
}

// Whole milliseconds, rounded up, so that a short wait is never a busy one.
timeval* toTimeval(long timeoutUs, timeval* tv) {
  if (timeoutUs < 0) return nullptr;
  const long ms = std::min<long>((timeoutUs + 999) / 1000, INT_MAX / 1000);
  tv->tv_sec = ms / 1000;
  tv->tv_usec = (ms % 1000) * 1000;
  return tv;
}

// One select on s alone. *inMain / *inExcept tell which set it came back
// in; a failed connect shows only in the exception set.
int selectOne(Socket s, bool forWrite, long timeoutUs, bool* inMain, bool* inExcept) {
  *inMain = *inExcept = false;
  if (s == kInvalidSocket) {
    tlsError = WSAENOTSOCK;
    return -1;
  }
  if (isShut(toSocket(s))) {
    *inMain = true;
    return 1;
  }
  fd_set main, except;
  FD_ZERO(&main);
  FD_ZERO(&except);
  FD_SET(toSocket(s), &main);
  FD_SET(toSocket(s), &except);
  timeval tv;
  // The first argument is ignored by Winsock: sets hold sockets, not numbers.
  const int r = select(0, forWrite ? nullptr : &main, forWrite ? &main : nullptr, &except, toTimeval(timeoutUs, &tv));
  if (r == SOCKET_ERROR) return failed();
  *inMain = FD_ISSET(toSocket(s), &main) != 0;
  *inExcept = FD_ISSET(toSocket(s), &except) != 0;
  return r;
}
}  // namespace

NetError lastNetError() {
  switch (tlsError) {
    case 0: return NetError::None;
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEALREADY: return NetError::WouldBlock;
    case WSAEINTR:
    case WSAENOBUFS: return NetError::TryAgain;
    default: return NetError::Other;
  }
}

int lastNetErrorCode() { return tlsError; }

bool netStartup() {
  WSADATA data;
  const int r = WSAStartup(MAKEWORD(2, 2), &data);
  if (r != 0) {
    tlsError = r;  // WSAStartup returns its error; WSAGetLastError is not set up yet
    return false;
  }
  return true;
}

void netCleanup() { WSACleanup(); }

Socket tcpSocket() {
  // WSA_FLAG_NO_HANDLE_INHERIT where the system knows it, else afterwards.
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) noInherit(s);
  }
  if (s == INVALID_SOCKET) return failed();
  return static_cast<Socket>(s);
}

bool setNonBlocking(Socket s, bool on) {
  u_long mode = on ? 1 : 0;
  if (ioctlsocket(toSocket(s), FIONBIO, &mode) == SOCKET_ERROR) return failed(), false;
  tlsError = 0;
  return true;
}

bool setSendBufferSize(Socket s, int bytes) {
  if (setsockopt(toSocket(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes) ==
      SOCKET_ERROR) {
    return failed(), false;
  }
  return true;
}

bool setReceiveBufferSize(Socket s, int bytes) {
  if (setsockopt(toSocket(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes) ==
      SOCKET_ERROR) {
    return failed(), false;
  }
  return true;
}

bool setNoDelay(Socket s, bool on) {
  BOOL v = on ? TRUE : FALSE;
  if (setsockopt(toSocket(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&v), sizeof v) ==
      SOCKET_ERROR) {
    return failed(), false;
  }
  return true;
}

bool noDelay(Socket s) {
  BOOL v = FALSE;
  int len = sizeof v;
  return getsockopt(toSocket(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&v), &len) == 0 && v != FALSE;
}

// Winsock has no count of the bytes written and not yet acknowledged (its
// ideal-backlog query tells how much to keep queued, not how much is).
// -1 tells the caller to take it as unknown.
long unsentBytes(Socket) {
  tlsError = WSAEOPNOTSUPP;
  return -1;
}

void closeSocket(Socket s) {
  if (s == kInvalidSocket) return;
  forgetShut(toSocket(s));
  closesocket(toSocket(s));
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
  if (connect(toSocket(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return 0;
  failed();  // WSAEWOULDBLOCK while a non-blocking connect is under way
  return -1;
}

// The exception set is watched too: it is where Winsock reports a connect
// that failed, which counts as ready here so that the next call reports it.
int waitReady(Socket s, Readiness what, long timeoutUs) {
  bool inMain, inExcept;
  return selectOne(s, what == Readiness::Writable, timeoutUs, &inMain, &inExcept);
}

int waitWritable(Socket s, long timeoutUs) {
  const std::int64_t start = monotonicUs();
  bool writable, failedConnect;
  const int r = selectOne(s, true, timeoutUs, &writable, &failedConnect);
  if (r <= 0) return r;
  // A failed connect shows in the exception set only, but a socket whose
  // connection ended shows as writable too; either way it has no peer.
  // Report it as not ready and use up the time-out, so that callers pace
  // themselves as on a still-pending connect.
  if (writable && !failedConnect) {
    sockaddr_in peer{};
    int len = sizeof peer;
    if (getpeername(toSocket(s), reinterpret_cast<sockaddr*>(&peer), &len) == 0) return r;
  }
  const long left = timeoutUs - static_cast<long>(monotonicUs() - start);
  if (left > 0) Sleep(static_cast<DWORD>((left + 999) / 1000));
  return 0;
}

int waitReadable(Socket s, long timeoutUs) { return waitReady(s, Readiness::Readable, timeoutUs); }

long sendSome(Socket s, const void* data, std::size_t length) {
  const int n = send(toSocket(s), static_cast<const char*>(data), static_cast<int>(std::min<std::size_t>(length, INT_MAX)), 0);
  if (n == SOCKET_ERROR) return failed();
  return n;
}

long recvSome(Socket s, void* data, std::size_t length) {
  const int n = recv(toSocket(s), static_cast<char*>(data), static_cast<int>(std::min<std::size_t>(length, INT_MAX)), 0);
  if (n == SOCKET_ERROR) {
    // Our own shutdownBoth: the reader of this side sees end of stream, as
    // elsewhere, rather than an error.
    if (WSAGetLastError() == WSAESHUTDOWN) return 0;
    return failed();
  }
  return n;
}

Socket listenTcp(const char* addr, std::uint16_t port, int backlog) {
  const Socket fd = tcpSocket();
  if (fd == kInvalidSocket) return kInvalidSocket;
  const SOCKET s = toSocket(fd);
  BOOL one = TRUE;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = ipv4FromText(addr);
  if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR || listen(s, backlog) == SOCKET_ERROR) {
    failed();
    closesocket(s);
    return kInvalidSocket;
  }
  return fd;
}

Socket acceptConnection(Socket listener, long timeoutUs) {
  if (timeoutUs >= 0 && waitReadable(listener, timeoutUs) <= 0) return kInvalidSocket;
  const SOCKET s = accept(toSocket(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return failed();
  noInherit(s);
  return static_cast<Socket>(s);
}

void resetAndClose(Socket s) {
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  setsockopt(toSocket(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  forgetShut(toSocket(s));
  closesocket(toSocket(s));
}

void shutdownSend(Socket s) { shutdown(toSocket(s), SD_SEND); }

void shutdownBoth(Socket s) {
  if (shutdown(toSocket(s), SD_BOTH) == 0) rememberShut(toSocket(s));
}

}  // namespace plat
