// Locks and events.
#pragma once
#include <condition_variable>
#include <mutex>

namespace plat {

// A non-recursive lock. Held only around copies, assignments or one send.
class CriticalSection {
 public:
  void enter() { m_.lock(); }
  void leave() { m_.unlock(); }
  // For std::lock_guard / std::unique_lock.
  void lock() { m_.lock(); }
  void unlock() { m_.unlock(); }

 private:
  std::mutex m_;
};

// An auto-reset event: set() releases one wait (or the next one), then the
// event is clear again.
class AutoResetEvent {
 public:
  void set();
  // Waits up to timeoutMs (negative: without limit). True when signalled.
  bool wait(int timeoutMs);

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace plat
