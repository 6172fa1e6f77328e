#include "fake_device.h"

#include "platform/clock.h"
#include "tdwire.h"

FakeDevice::FakeDevice(const char* address) { listener_ = plat::listenTcp(address, TD_DEVICE_PORT); }

FakeDevice::~FakeDevice() {
  closeConnection();
  plat::closeSocket(listener_);
}

bool FakeDevice::accept(int timeoutMs) {
  conn_ = plat::acceptConnection(listener_, timeoutMs * 1000L);
  return conn_ != plat::kInvalidSocket;
}

bool FakeDevice::readRaw(std::vector<unsigned char>& out, std::size_t n, int timeoutMs) {
  out.resize(n);
  std::size_t got = 0;
  std::int64_t deadline = plat::monotonicUs() + timeoutMs * 1000LL;
  while (got < n) {
    long left = static_cast<long>(deadline - plat::monotonicUs());
    if (left <= 0 || plat::waitReadable(conn_, left) <= 0) return false;
    long r = plat::recvSome(conn_, out.data() + got, n - got);
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

bool FakeDevice::readFrame(Frame& f, int timeoutMs, bool skipKeepAlive) {
  std::int64_t deadline = plat::monotonicUs() + timeoutMs * 1000LL;
  for (;;) {
    int left = static_cast<int>((deadline - plat::monotonicUs()) / 1000);
    std::vector<unsigned char> head;
    if (left <= 0 || !readRaw(head, TD_FRAME_HEADER_SIZE, left)) return false;
    f.type = td_get_be32(head.data());
    std::uint32_t length = td_get_be32(head.data() + 4);
    if (length > 1u << 20) return false;
    if (!readRaw(f.payload, length, left)) return false;
    if (!(skipKeepAlive && f.type == TDMSG_KEEPALIVE)) return true;
  }
}

std::vector<unsigned char> FakeDevice::frameBytes(std::uint32_t type, const std::vector<unsigned char>& payload) {
  std::vector<unsigned char> b(TD_FRAME_HEADER_SIZE + payload.size());
  td_put_be32(b.data(), type);
  td_put_be32(b.data() + 4, static_cast<std::uint32_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), b.begin() + TD_FRAME_HEADER_SIZE);
  return b;
}

bool FakeDevice::sendRaw(const std::vector<unsigned char>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    long n = plat::sendSome(conn_, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool FakeDevice::sendFrame(std::uint32_t type, const std::vector<unsigned char>& payload) {
  return sendRaw(frameBytes(type, payload));
}

bool FakeDevice::acceptPairing() {
  Frame f;
  return readFrame(f) && f.type == TDMSG_PAIR_BANNER && sendFrame(TDMSG_PAIR_SUCCEED_INDIC);
}

std::vector<Frame> FakeDevice::drain(int timeoutMs) {
  std::vector<Frame> frames;
  std::int64_t deadline = plat::monotonicUs() + timeoutMs * 1000LL;
  Frame f;
  for (;;) {
    int left = static_cast<int>((deadline - plat::monotonicUs()) / 1000);
    if (left <= 0 || !readFrame(f, left)) break;
    frames.push_back(f);
  }
  return frames;
}

bool FakeDevice::waitClosed(int timeoutMs) {
  std::int64_t deadline = plat::monotonicUs() + timeoutMs * 1000LL;
  unsigned char sink[4096];
  while (plat::monotonicUs() < deadline) {
    long left = static_cast<long>(deadline - plat::monotonicUs());
    if (plat::waitReadable(conn_, left) <= 0) continue;
    long r = plat::recvSome(conn_, sink, sizeof sink);
    if (r <= 0) return true;
  }
  return false;
}

void FakeDevice::closeConnection() {
  plat::closeSocket(conn_);
  conn_ = plat::kInvalidSocket;
}

void FakeDevice::resetConnection() {
  if (conn_ != plat::kInvalidSocket) plat::resetAndClose(conn_);
  conn_ = plat::kInvalidSocket;
}
