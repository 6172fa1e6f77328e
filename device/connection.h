// One sender's connection, from accept to close: pairing (banner, optional
// password challenge, acceptance or refusal), keep-alives once a period,
// answers to start and stop requests, and a log line per message received.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "device/frame_reader.h"
#include "device/journal.h"
#include "device/log.h"
#include "device/md5.h"
#include "device/options.h"
#include "device/outbox.h"
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

class Connection {
 public:
  Connection(int number, plat::Socket socket, const DeviceOptions& options, DeviceJournal& journal,
             const DeviceLog& log, Outbox& outbox, ConnectionBuffers& buffers);
  // Serves until the sender leaves, the connection breaks or times out, the
  // device refused the pairing and the sender has gone, or keepRunning
  // turns false. Closes the socket.
  void serve(const std::atomic<bool>& keepRunning);

 private:
  void handle(const Frame& frame);
  void onBanner(const Frame& frame);
  void onDigest(const Frame& frame);
  void onStartRequest();
  void onStopRequest();
  void sendPosted(const OutboxItem& item);

  void sendChallenge();
  void accept();
  void refuse(int reason);
  void sendParams(const std::uint8_t* record, std::uint32_t length);
  void stopStream(bool acknowledge);
  bool sendFrame(std::uint32_t type, const void* payload, std::uint32_t length);
  void protocolError(const std::string& what);
  void say(const std::string& line) const;

  const int number_;
  plat::Socket socket_;
  const DeviceOptions& options_;
  DeviceJournal& journal_;
  const DeviceLog& log_;
  Outbox& outbox_;
  ConnectionBuffers& buffers_;

  bool bannerSeen_ = false;
  bool challengePending_ = false;
  bool paired_ = false;
  bool streaming_ = false;
  bool draining_ = false;  // refused: sent everything, waiting for the sender to leave
  bool broken_ = false;    // a send failed or the stream cannot go on
  std::uint8_t challenge_[TD_CHALLENGE_SIZE] = {};
};

// Name of a message type for log lines ("banner", "keep-alive", "type 42").
std::string messageName(std::uint32_t type);

}  // namespace device
