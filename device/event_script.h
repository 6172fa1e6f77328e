// Scripted device events for tests and demos: intra picture requests at a
// period, bit-rate changes, parameter updates and a stop, each at a time
// counted from the start of a stream (the start acknowledgement).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/encoding_request.h"

namespace device {

struct ScriptedEvents {
  double idrEverySeconds = 0;  // 0: no periodic requests
  struct BitRate {
    double atSeconds;
    std::uint32_t bitsPerSecond;
  };
  std::vector<BitRate> bitRates;
  struct Params {
    double atSeconds;
    std::vector<std::pair<std::string, std::string>> settings;  // KEY, VALUE as given
  };
  std::vector<Params> params;
  std::optional<double> stopAtSeconds;

  bool empty() const {
    return idrEverySeconds <= 0 && bitRates.empty() && params.empty() && !stopAtSeconds;
  }
};

// What a script does when an event fires; the device implements it.
class ScriptActions {
 public:
  virtual ~ScriptActions() = default;
  virtual void scriptIntraRequest() = 0;
  virtual void scriptBitRate(std::uint32_t bitsPerSecond) = 0;
  virtual void scriptParams(const EncodingRequest& params) = 0;
  virtual void scriptStop() = 0;
  virtual void scriptLog(const std::string& line) = 0;
};

// Runs a script against one stream after another.
class EventScript {
 public:
  explicit EventScript(ScriptedEvents events) : events_(std::move(events)) {}

  // A stream starts at nowUs with these parameters; every event is due again.
  void streamStarted(std::int64_t nowUs, const EncodingRequest& params);
  // The parameters in force changed (an update, scripted or not).
  void paramsInForce(const EncodingRequest& params) { current_ = params; }
  void streamStopped() { running_ = false; }
  // Fires what is due at nowUs, in time order.
  void poll(std::int64_t nowUs, ScriptActions& actions);

 private:
  ScriptedEvents events_;
  bool running_ = false;
  std::int64_t startUs_ = 0;
  std::uint64_t idrsDone_ = 0;
  std::size_t bitRatesDone_ = 0, paramsDone_ = 0;
  bool stopDone_ = false;
  EncodingRequest current_;
};

}  // namespace device
