// A sender reduced to bytes: connects to a device, writes frames or any
// bytes at all, and reads the device's frames with a time limit.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/net.h"
#include "tdwire.h"

namespace devtest {

struct WireFrame {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> payload;
  std::int64_t atUs = 0;
};

class RawClient {
 public:
  RawClient() = default;
  ~RawClient() { close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connect(const char* address) {
    close();
    s_ = plat::tcpSocket();
    if (s_ == plat::kInvalidSocket) return false;
    if (plat::connectIPv4(s_, plat::ipv4FromText(address), TD_DEVICE_PORT) != 0) {
      close();
      return false;
    }
    return true;
  }

  void close() {
    if (s_ != plat::kInvalidSocket) plat::closeSocket(s_);
    s_ = plat::kInvalidSocket;
    fill_ = 0;
  }

  bool sendBytes(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      long n = plat::sendSome(s_, bytes.data() + sent, bytes.size() - sent);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  static std::vector<std::uint8_t> frame(std::uint32_t type, const std::vector<std::uint8_t>& payload = {}) {
    std::vector<std::uint8_t> out(8);
    td_put_be32(out.data(), type);
    td_put_be32(out.data() + 4, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
  }

  bool send(std::uint32_t type, const std::vector<std::uint8_t>& payload = {}) {
    return sendBytes(frame(type, payload));
  }
  bool send(std::uint32_t type, const std::string& text) {
    return send(type, std::vector<std::uint8_t>(text.begin(), text.end()));
  }
  bool sendBanner() { return send(TDMSG_PAIR_BANNER, std::string(TD_PAIR_BANNER)); }

  // The next frame within timeoutMs; false on time-out or end of stream.
  bool next(WireFrame* out, int timeoutMs) {
    const std::int64_t until = plat::monotonicUs() + std::int64_t(timeoutMs) * 1000;
    for (;;) {
      if (fill_ >= 8) {
        std::uint32_t length = td_get_be32(buf_ + 4);
        if (length > sizeof buf_ - 8) return false;  // nothing a device sends
        if (fill_ >= 8 + length) {
          out->type = td_get_be32(buf_);
          out->payload.assign(buf_ + 8, buf_ + 8 + length);
          out->atUs = plat::monotonicUs();
          std::size_t used = 8 + length;
          std::copy(buf_ + used, buf_ + fill_, buf_);
          fill_ -= used;
          return true;
        }
      }
      if (!readSome(until)) return false;
    }
  }

  // The next frame that is not a keep-alive.
  bool nextMessage(WireFrame* out, int timeoutMs) {
    const std::int64_t until = plat::monotonicUs() + std::int64_t(timeoutMs) * 1000;
    for (;;) {
      int left = static_cast<int>((until - plat::monotonicUs()) / 1000);
      if (left < 0 || !next(out, left)) return false;
      if (out->type != TDMSG_KEEPALIVE) return true;
    }
  }

  // True when the device ends the stream within timeoutMs; frames that
  // come first are dropped.
  bool waitClosed(int timeoutMs) {
    const std::int64_t until = plat::monotonicUs() + std::int64_t(timeoutMs) * 1000;
    for (;;) {
      fill_ = 0;
      if (!readSome(until)) return closed_;
    }
  }

 private:
  // Reads what is there; false on time-out or end of stream (closed_ set).
  bool readSome(std::int64_t untilUs) {
    closed_ = false;
    std::int64_t left = untilUs - plat::monotonicUs();
    if (left <= 0 || plat::waitReadable(s_, static_cast<long>(left)) <= 0) return false;
    long n = plat::recvSome(s_, buf_ + fill_, sizeof buf_ - fill_);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    fill_ += static_cast<std::size_t>(n);
    return true;
  }

  plat::Socket s_ = plat::kInvalidSocket;
  std::uint8_t buf_[8 + 4096];
  std::size_t fill_ = 0;
  bool closed_ = false;
};

}  // namespace devtest
