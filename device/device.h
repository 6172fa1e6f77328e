// The reference device: listens on ADDRESS:5001 and serves one sender's
// connection after another on a thread of its own, until stopped.
//
//   device::DeviceOptions o;
//   o.bindAddress = "127.0.30.1";
//   o.password = "secret";
//   device::Device d(o);
//   std::string error;
//   if (!d.start(&error)) ...;           // bound and serving
//   d.waitFor([](const device::DeviceState& s) { return s.paired; }, 2000);
//   d.stop();                            // connection closed, thread joined
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/connection.h"
#include "device/journal.h"
#include "device/log.h"
#include "device/media_receiver.h"
#include "device/options.h"
#include "device/outbox.h"
#include "device/stream_stats.h"
#include "platform/net.h"
#include "platform/thread.h"

namespace device {

class Device {
 public:
  explicit Device(DeviceOptions options);
  ~Device();  // stops
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Binds the listening socket and starts the device thread. False, with a
  // reason in *error, when the address cannot be bound or the thread not
  // started. A device starts at most once.
  bool start(std::string* error = nullptr);
  // Closes the open connection and the listener and joins the device thread.
  // Safe to call more than once, and without start(); not from the device
  // thread (a log sink or media sink), which it waits for.
  void stop();

  const DeviceOptions& options() const { return options_; }

  // What the device has seen; see DeviceJournal.
  DeviceState state() const { return journal_.snapshot(); }
  bool waitFor(const std::function<bool(const DeviceState&)>& pred, int timeoutMs) const {
    return journal_.waitFor(pred, timeoutMs);
  }

  // Messages to the connected sender, sent by the device thread on its next
  // pass (within about 20 ms). False when no connection is open. Encoding
  // parameters sent to a paired sender start a new run of the stream.
  bool send(std::uint32_t type, std::vector<std::uint8_t> payload = {});
  bool sendEncodingParams(const EncodingRequest& params);
  bool sendBitRate(std::uint32_t bitsPerSecond);
  bool requestIntraPicture();
  bool sendStopAck();
  // Closes the open connection at once (the sender sees the stream end).
  bool closeConnection();

  // What the device has received and decoded since it started; any thread.
  StreamStats streamStats() const { return receiver_->streamStats(); }

 private:
  // Scripted events act through the device's own send functions.
  class Script : public ScriptActions {
   public:
    explicit Script(Device& d) : d_(d) {}
    void scriptIntraRequest() override { d_.requestIntraPicture(); }
    void scriptBitRate(std::uint32_t bps) override { d_.sendBitRate(bps); }
    void scriptParams(const EncodingRequest& p) override { d_.sendEncodingParams(p); }
    void scriptStop() override { d_.sendStopAck(); }
    void scriptLog(const std::string& line) override { d_.log_(line); }

   private:
    Device& d_;
  };

  static std::uint32_t threadMain(void* start);
  void run();

  DeviceOptions options_;
  DeviceLog log_;
  DeviceJournal journal_;
  Outbox outbox_;
  std::unique_ptr<ConnectionBuffers> buffers_;
  Script script_{*this};
  std::unique_ptr<MediaReceiver> receiver_;
  plat::Socket listener_ = plat::kInvalidSocket;
  plat::Thread thread_;
  std::atomic<bool> running_{false};
  bool started_ = false;
};

}  // namespace device
