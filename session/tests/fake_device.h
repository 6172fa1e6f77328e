// A scripted peer for the session tests: listens on ADDRESS:5001, accepts
// one connection and lets the test read and write raw frames.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/net.h"

struct Frame {
  std::uint32_t type = 0;
  std::vector<unsigned char> payload;
};

class FakeDevice {
 public:
  explicit FakeDevice(const char* address);
  ~FakeDevice();

  bool listening() const { return listener_ != plat::kInvalidSocket; }
  // Receive buffer of the connections accepted from now on (set on the
  // listener, so the window offered at the handshake follows it).
  bool setReceiveBufferSize(int bytes) { return plat::setReceiveBufferSize(listener_, bytes); }
  // Waits up to timeoutMs for the session's connection.
  bool accept(int timeoutMs = 3000);
  // Next frame, skipping keep-alives when asked to; false on time-out/close.
  bool readFrame(Frame& f, int timeoutMs = 3000, bool skipKeepAlive = true);
  // Reads exactly n raw bytes.
  bool readRaw(std::vector<unsigned char>& out, std::size_t n, int timeoutMs = 3000);
  bool sendFrame(std::uint32_t type, const std::vector<unsigned char>& payload = {});
  bool sendRaw(const std::vector<unsigned char>& bytes);
  // Reads the banner and answers with acceptance (type 1).
  bool acceptPairing();
  // Collects frames (keep-alives skipped) until the session closes or timeoutMs passes.
  std::vector<Frame> drain(int timeoutMs);
  // True when the session closed its end within timeoutMs.
  bool waitClosed(int timeoutMs);
  void closeConnection();
  void resetConnection();

  static std::vector<unsigned char> frameBytes(std::uint32_t type, const std::vector<unsigned char>& payload = {});

 private:
  plat::Socket listener_ = plat::kInvalidSocket;
  plat::Socket conn_ = plat::kInvalidSocket;
};
