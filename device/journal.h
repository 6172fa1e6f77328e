// What a device has seen so far, for tests and tools that watch it from
// another thread: counts, the current pairing state and every received
// message except keep-alives and media, which are only counted.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace device {

struct ReceivedMessage {
  int connection;  // 1 for the first connection the device accepted
  std::uint32_t type;
  std::vector<std::uint8_t> payload;
  std::int64_t atUs;  // monotonic time of arrival
};

struct DeviceState {
  int connectionsAccepted = 0;
  int connectionsEnded = 0;
  bool connected = false;  // a connection is open now
  bool paired = false;     // ... and the device accepted its pairing
  bool streaming = false;  // ... and sent encoding parameters
  int challengesSent = 0;
  int rightAnswers = 0;
  int wrongAnswers = 0;
  int rejectionsSent = 0;
  int keepAlivesSent = 0;
  std::uint64_t keepAlivesReceived = 0;
  std::uint64_t mediaReceived = 0;
  std::uint64_t mediaBytes = 0;
  // Bytes from the sender that break the protocol (wrong banner, oversized
  // length, a type that the sender never sends, ...); each is logged.
  int protocolErrors = 0;
  std::vector<ReceivedMessage> messages;

  // The messages of one type, in arrival order.
  std::vector<ReceivedMessage> ofType(std::uint32_t type) const;
};

class DeviceJournal {
 public:
  DeviceState snapshot() const;
  // Waits up to timeoutMs until pred holds for the state; true when it does.
  bool waitFor(const std::function<bool(const DeviceState&)>& pred, int timeoutMs) const;
  // Changes the state under the journal's lock and wakes the waiters.
  void update(const std::function<void(DeviceState&)>& change);

 private:
  mutable std::mutex m_;
  mutable std::condition_variable cv_;
  DeviceState state_;
};

}  // namespace device
