#include "device/event_script.h"

#include <algorithm>
#include <cstdio>

#include "device/options.h"

namespace device {

namespace {
std::string seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}
std::int64_t toUs(double s) { return static_cast<std::int64_t>(s * 1e6 + 0.5); }
}  // namespace

void EventScript::streamStarted(std::int64_t nowUs, const EncodingRequest& params) {
  running_ = true;
  startUs_ = nowUs;
  idrsDone_ = 0;
  bitRatesDone_ = paramsDone_ = 0;
  stopDone_ = false;
  current_ = params;
  // Events are kept in time order, so each list is walked once per stream.
  auto byTime = [](const auto& a, const auto& b) { return a.atSeconds < b.atSeconds; };
  std::stable_sort(events_.bitRates.begin(), events_.bitRates.end(), byTime);
  std::stable_sort(events_.params.begin(), events_.params.end(), byTime);
}

void EventScript::poll(std::int64_t nowUs, ScriptActions& actions) {
  if (!running_) return;
  const std::int64_t elapsedUs = nowUs - startUs_;
  const double elapsed = elapsedUs / 1e6;
  if (events_.idrEverySeconds > 0) {
    const std::int64_t periodUs = std::max<std::int64_t>(toUs(events_.idrEverySeconds), 1);
    const std::uint64_t due = static_cast<std::uint64_t>(elapsedUs / periodUs);
    if (due > idrsDone_) {
      // Requests missed while the device was busy fold into one.
      idrsDone_ = due;
      actions.scriptLog("script: intra picture request at " + seconds(elapsed));
      actions.scriptIntraRequest();
    }
  }
  while (bitRatesDone_ < events_.bitRates.size() &&
         toUs(events_.bitRates[bitRatesDone_].atSeconds) <= elapsedUs) {
    const auto& e = events_.bitRates[bitRatesDone_++];
    actions.scriptLog("script: bit rate " + std::to_string(e.bitsPerSecond) + " bit/s at " + seconds(elapsed));
    actions.scriptBitRate(e.bitsPerSecond);
  }
  while (paramsDone_ < events_.params.size() && toUs(events_.params[paramsDone_].atSeconds) <= elapsedUs) {
    const auto& e = events_.params[paramsDone_++];
    EncodingRequest next = current_;
    std::string what, error;
    bool ok = true;
    for (const auto& kv : e.settings) {
      ok = ok && applyEncodingSetting(kv.first, kv.second, &next, &error);
      what += (what.empty() ? "" : ",") + kv.first + "=" + kv.second;
    }
    if (!ok) {
      actions.scriptLog("script: parameters " + what + " not sent: " + error);
      continue;
    }
    actions.scriptLog("script: parameters " + what + " at " + seconds(elapsed));
    current_ = next;
    actions.scriptParams(next);
  }
  if (events_.stopAtSeconds && !stopDone_ && toUs(*events_.stopAtSeconds) <= elapsedUs) {
    stopDone_ = true;
    running_ = false;
    actions.scriptLog("script: stop at " + seconds(elapsed));
    actions.scriptStop();
  }
}

}  // namespace device
