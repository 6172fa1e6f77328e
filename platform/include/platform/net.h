// IPv4 TCP sockets with the meaning the session relies on: non-blocking
// connect, readiness waits, sends that never raise SIGPIPE, and errors
// mapped to a small portable set.
#pragma once
#include <cstddef>
#include <cstdint>

namespace plat {

using Socket = std::intptr_t;
constexpr Socket kInvalidSocket = -1;

// Portable error classes. WouldBlock covers "operation would block" and a
// non-blocking connect that is under way; TryAgain a transient failure.
enum class NetError { None = 0, WouldBlock, TryAgain, Other };

// The last socket error of this thread: its class and the raw OS code
// (for log lines).
NetError lastNetError();
int lastNetErrorCode();

// Process start-up and clean-up of the socket library: Winsock 2.2 on
// Windows, no-ops elsewhere.
bool netStartup();
void netCleanup();

Socket tcpSocket();                      // IPv4 stream socket, close-on-exec
bool setNonBlocking(Socket s, bool on);
bool setSendBufferSize(Socket s, int bytes);
bool setReceiveBufferSize(Socket s, int bytes);
// Nagle's algorithm off (on = true): a small segment goes out at once
// instead of waiting for the peer to acknowledge the one before, so the last
// packet of a picture is never held back by a delayed acknowledgement.
bool setNoDelay(Socket s, bool on);
bool noDelay(Socket s);
// Bytes written to s that the peer has not acknowledged yet: those still in
// the send buffer and those on their way (in a queue of the network), so
// what a message sent now waits behind. -1 when the system cannot tell.
long unsentBytes(Socket s);
void closeSocket(Socket s);

// Dotted IPv4 text to an address in network byte order; text that is not a
// dotted IPv4 address gives 0xFFFFFFFF, as the classic inet_addr does.
std::uint32_t ipv4FromText(const char* text);
constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;

// Starts a connect to addr (network order) : port. 0 when connected at once;
// -1 otherwise, with lastNetError() WouldBlock while it is under way.
int connectIPv4(Socket s, std::uint32_t addr, std::uint16_t port);

// What a readiness wait looks for.
enum class Readiness { Readable, Writable };

// Waits up to timeoutUs (negative: without limit) until s is readable or
// writable, whatever the descriptor's number. A pending error or hang-up
// counts as ready, so that the next send or receive reports it.
// >0 ready, 0 time-out, <0 error.
int waitReady(Socket s, Readiness what, long timeoutUs);

// Waits up to timeoutUs for the socket to become writable / readable.
// >0 ready, 0 time-out, <0 error. A socket whose connect failed is never
// reported writable: the wait then uses up its time-out and returns 0.
int waitWritable(Socket s, long timeoutUs);
int waitReadable(Socket s, long timeoutUs);

// One send / receive call. send never raises SIGPIPE. Both return the byte
// count, or -1 with lastNetError() set; recv returns 0 when the peer closed.
long sendSome(Socket s, const void* data, std::size_t length);
long recvSome(Socket s, void* data, std::size_t length);

// Server side (the reference device and tests): a blocking listener bound to
// addr:port with SO_REUSEADDR; acceptConnection waits up to timeoutUs
// (negative: without limit) and returns kInvalidSocket on time-out or error.
Socket listenTcp(const char* addr, std::uint16_t port, int backlog = 4);
Socket acceptConnection(Socket listener, long timeoutUs);
// Abortive close: the peer sees a connection reset.
void resetAndClose(Socket s);
// Half-close for writing: the peer reads end of stream.
void shutdownSend(Socket s);
// Ends both directions without releasing the descriptor: further sends fail
// at once and the reader of this side sees end of stream. (On Windows a
// readiness wait already under way sees it only at its next wait.)
void shutdownBoth(Socket s);

}  // namespace plat
