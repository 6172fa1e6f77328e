// Session events handed from the session thread, where the callback runs,
// to the thread that drives the run. The callback only queues: it must not
// call back into the session's waiting functions.
#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace cli {

struct SessionEvent {
  int event;
  int value;
  int rejectedReason;  // read on the session thread when the event is a rejection
};

class EventQueue {
 public:
  void push(const SessionEvent& e) {
    {
      std::lock_guard<std::mutex> g(m_);
      events_.push_back(e);
    }
    cv_.notify_one();
  }
  // Waits up to timeoutMs for an event; false on time-out.
  bool pop(SessionEvent* out, int timeoutMs) {
    std::unique_lock<std::mutex> g(m_);
    if (!cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return !events_.empty(); }))
      return false;
    *out = events_.front();
    events_.pop_front();
    return true;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<SessionEvent> events_;
};

}  // namespace cli
