// A periodic timer that sets an auto-reset event at every period.
#pragma once
#include <atomic>

#include "platform/sync.h"
#include "platform/thread.h"

namespace plat {

class PeriodicTimer {
 public:
  PeriodicTimer() = default;
  ~PeriodicTimer() { stop(); }
  PeriodicTimer(const PeriodicTimer&) = delete;
  PeriodicTimer& operator=(const PeriodicTimer&) = delete;

  // Starts setting *event every periodMs (at least 1). False when the timer
  // cannot be started; the event is then never set by it.
  bool start(int periodMs, AutoResetEvent* event);
  // Stops the timer and joins its thread; harmless when not started.
  void stop();
#if defined(_WIN32)
  bool running() const { return timerId_ != 0; }

 private:
  // The multimedia timer's id (0: none) and the resolution asked of it.
  unsigned timerId_ = 0;
  unsigned resolutionMs_ = 0;
#else
  bool running() const { return thread_.valid(); }

 private:
  static std::uint32_t Run(void* self);

  Thread thread_;
  int timerFd_ = -1;
  int stopFd_ = -1;
  AutoResetEvent* event_ = nullptr;
#endif
};

}  // namespace plat
