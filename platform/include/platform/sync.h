// Locks and events.
#pragma once

// <mutex> on every system: callers hold these locks with std::lock_guard.
#include <mutex>
#if !defined(_WIN32)
#include <condition_variable>
#endif

namespace plat {

#if defined(_WIN32)

// A non-recursive lock. Held only around copies, assignments or one send.
// A Win32 critical section, kept in place inside the object so that this
// header needs no system header; sync_win.cpp checks that it fits.
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void enter();
  void leave();
  // For std::lock_guard / std::unique_lock.
  void lock() { enter(); }
  void unlock() { leave(); }

 private:
  alignas(void*) unsigned char section_[sizeof(void*) == 8 ? 40 : 24];
};

// An auto-reset event: set() releases one wait (or the next one), then the
// event is clear again. A Win32 auto-reset event object.
class AutoResetEvent {
 public:
  AutoResetEvent();
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;
  void set();
  // Waits up to timeoutMs (negative: without limit). True when signalled.
  bool wait(int timeoutMs);

 private:
  void* handle_;
};

#else

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

#endif

}  // namespace plat
