#include "device/connection.h"

#include <cstring>

#include "device/media_sink.h"
#include "platform/clock.h"

namespace device {

namespace {
// After refusing a pairing the device gives the sender this long to read the
// refusal and leave, so that it is never cut off by a reset.
constexpr std::int64_t kDrainUs = 2000000;
// Longest wait of one pass: posted messages and a stop are seen this soon.
constexpr long kPassUs = 20000;
// A sender that takes nothing for this long is treated as gone.
constexpr std::int64_t kSendLimitUs = 3000000;
}  // namespace

Connection::Connection(int number, plat::Socket socket, const DeviceOptions& options,
                       DeviceJournal& journal, const DeviceLog& log, Outbox& outbox,
                       ConnectionBuffers& buffers)
    : socket_(socket),
      options_(options),
      journal_(journal),
      outbox_(outbox),
      buffers_(buffers),
      protocol_(number, options, journal, log, *this) {}

void Connection::serve(const std::atomic<bool>& keepRunning) {
  plat::setNonBlocking(socket_, true);
  buffers_.reader.reset();
  journal_.update([](DeviceState& s) {
    s.connected = true;
    s.paired = s.streaming = false;
  });
  protocol_.say("sender connected");

  const std::int64_t keepAliveUs = std::int64_t(options_.keepAliveMs) * 1000;
  const std::int64_t peerTimeoutUs = std::int64_t(options_.peerTimeoutMs) * 1000;
  std::int64_t now = plat::monotonicUs();
  std::int64_t lastHeardUs = now;
  std::int64_t nextKeepAliveUs = now + keepAliveUs;
  std::int64_t drainUntilUs = 0;
  const auto onFrame = [this](const Frame& f) { protocol_.onFrame(f); };
  std::string ending;

  while (ending.empty()) {
    if (!keepRunning) {
      ending = "the device is stopping";
      break;
    }
    for (const OutboxItem& item : outbox_.takeAll()) {
      if (item.kind == OutboxItem::Close) ending = "closed by the device";
      if (ending.empty()) protocol_.onPosted(item);
    }
    if (!ending.empty()) break;

    long waitUs = kPassUs;
    if (keepAliveUs > 0 && !protocol_.refused()) {
      std::int64_t untilKeepAlive = nextKeepAliveUs - plat::monotonicUs();
      if (untilKeepAlive < waitUs) waitUs = untilKeepAlive > 0 ? static_cast<long>(untilKeepAlive) : 0;
    }
    int ready = plat::waitReadable(socket_, waitUs);
    now = plat::monotonicUs();
    if (ready < 0) {
      ending = "waiting on the socket failed (error " + std::to_string(plat::lastNetErrorCode()) + ")";
      break;
    }
    if (ready > 0) {
      long n = plat::recvSome(socket_, buffers_.receive, ConnectionBuffers::kReceiveSize);
      if (n == 0) {
        ending = protocol_.refused() ? "the sender left after the refusal" : "the sender closed the connection";
        break;
      }
      if (n < 0) {
        plat::NetError e = plat::lastNetError();
        if (e != plat::NetError::WouldBlock && e != plat::NetError::TryAgain)
          ending = "receive failed (error " + std::to_string(plat::lastNetErrorCode()) + ")";
        continue;
      }
      lastHeardUs = now;
      // After a refusal the sender's remaining bytes are read and dropped.
      if (!protocol_.refused() &&
          buffers_.reader.feed(buffers_.receive, static_cast<std::size_t>(n), onFrame) ==
              FrameReader::Result::Oversized) {
        protocol_.protocolError("declared payload length " + std::to_string(buffers_.reader.refusedLength()) +
                                " exceeds " + std::to_string(buffers_.reader.maxPayload()) +
                                "; the stream cannot be followed");
        ending = "closed after the oversized frame";
        break;
      }
    }
    if (broken_) {
      ending = "sending to the sender failed";
      break;
    }
    if (protocol_.refused()) {
      if (drainUntilUs == 0) drainUntilUs = now + kDrainUs;
      if (now >= drainUntilUs) ending = "the sender did not leave after the refusal";
      continue;
    }
    if (options_.media) options_.media->tick();
    if (keepAliveUs > 0 && now >= nextKeepAliveUs) {
      protocol_.sendKeepAlive();
      nextKeepAliveUs += keepAliveUs;
      if (nextKeepAliveUs <= now) nextKeepAliveUs = now + keepAliveUs;
    }
    if (peerTimeoutUs > 0 && now - lastHeardUs > peerTimeoutUs)
      ending = "nothing from the sender for " +
               (options_.peerTimeoutMs % 1000 ? std::to_string(options_.peerTimeoutMs) + " ms"
                                              : std::to_string(options_.peerTimeoutMs / 1000) + " s");
  }

  // Log, then journal, then the wire: whoever sees the close finds both done.
  protocol_.onConnectionEnd();
  protocol_.say("connection ended: " + ending + " (" + std::to_string(protocol_.keepAlivesReceived()) +
                " keep-alives, " + std::to_string(protocol_.mediaReceived()) + " media messages, " +
                std::to_string(protocol_.mediaBytesReceived()) + " media bytes received)");
  journal_.update([](DeviceState& s) {
    s.connected = s.paired = s.streaming = false;
    ++s.connectionsEnded;
  });
  plat::closeSocket(socket_);
  socket_ = plat::kInvalidSocket;
}

void Connection::finishOutput() { plat::shutdownSend(socket_); }

bool Connection::sendFrame(std::uint32_t type, const void* payload, std::uint32_t length) {
  if (broken_) return false;
  std::uint8_t* frame = buffers_.send;
  td_put_be32(frame, type);
  td_put_be32(frame + 4, length);
  if (length) std::memcpy(frame + TD_FRAME_HEADER_SIZE, payload, length);
  const std::size_t total = TD_FRAME_HEADER_SIZE + std::size_t(length);
  std::size_t sent = 0;
  const std::int64_t giveUpUs = plat::monotonicUs() + kSendLimitUs;
  while (sent < total) {
    long n = plat::sendSome(socket_, frame + sent, total - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    plat::NetError e = plat::lastNetError();
    bool retry = n < 0 && (e == plat::NetError::WouldBlock || e == plat::NetError::TryAgain);
    if (!retry || plat::monotonicUs() >= giveUpUs) {
      protocol_.say(retry ? "the sender has taken nothing for 3 s"
                          : "send failed (error " + std::to_string(plat::lastNetErrorCode()) + ")");
      broken_ = true;
      return false;
    }
    plat::waitWritable(socket_, 10000);
  }
  return true;
}

}  // namespace device
