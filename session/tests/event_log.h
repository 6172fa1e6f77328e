// Records the session's callbacks and lets a test wait for one.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "tdsdk.h"

class EventLog {
 public:
  static void TDS_CALL callback(void* self, int event, int value) {
    static_cast<EventLog*>(self)->add(event, value);
  }

  void add(int event, int value) {
    {
      std::lock_guard<std::mutex> g(m_);
      events_.emplace_back(event, value);
    }
    cv_.notify_all();
  }

  // Waits until an (event, value) pair has arrived; true if it did.
  bool waitFor(int event, int value, int timeoutMs = 3000) {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] {
      for (auto& e : events_)
        if (e.first == event && e.second == value) return true;
      return false;
    });
  }

  std::vector<std::pair<int, int>> events() {
    std::lock_guard<std::mutex> g(m_);
    return events_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::pair<int, int>> events_;
};

// A session that reports into a log of its own; the session is destroyed,
// and its thread ended, before the log goes, however a test ends.
struct LoggedSession {
  EventLog log;
  TDSdkHandle h = CreateTDSdkHandle();
  LoggedSession() = default;
  LoggedSession(const LoggedSession&) = delete;
  LoggedSession& operator=(const LoggedSession&) = delete;
  ~LoggedSession() { DestroyTDSdkHandle(h); }
  int pair(const char* address) { return TDS_AttemptToPair(h, address, &log, &EventLog::callback); }
};
