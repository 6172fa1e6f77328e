// One sender's connection, from accept to close: the socket loop around the
// device's side of the protocol. It reads and reassembles frames, sends a
// keep-alive once a period, takes messages that other threads posted, and
// ends when the sender leaves, the connection breaks or falls silent, a
// frame cannot be followed, or the device stops.
#pragma once
#include <atomic>
#include <cstdint>

#include "device/frame_output.h"
#include "device/frame_reader.h"
#include "device/journal.h"
#include "device/log.h"
#include "device/options.h"
#include "device/outbox.h"
#include "device/peer_protocol.h"
#include "platform/net.h"
#include "tdwire.h"

namespace device {

// Memory that one connection after another reuses; allocated once with the
// device.
struct ConnectionBuffers {
  static constexpr std::size_t kReceiveSize = 32768;
  FrameReader reader;
  std::uint8_t receive[kReceiveSize];
  std::uint8_t send[TD_FRAME_HEADER_SIZE + TD_MAX_SEND_PAYLOAD];
};

class Connection : private FrameOutput {
 public:
  Connection(int number, plat::Socket socket, const DeviceOptions& options, DeviceJournal& journal,
             const DeviceLog& log, Outbox& outbox, ConnectionBuffers& buffers);
  // Serves until the connection ends or keepRunning turns false; closes the
  // socket.
  void serve(const std::atomic<bool>& keepRunning);

 private:
  bool sendFrame(std::uint32_t type, const void* payload, std::uint32_t length) override;
  void finishOutput() override;

  plat::Socket socket_;
  const DeviceOptions& options_;
  DeviceJournal& journal_;
  Outbox& outbox_;
  ConnectionBuffers& buffers_;
  PeerProtocol protocol_;
  bool broken_ = false;  // a send failed: the connection cannot go on
};

}  // namespace device
