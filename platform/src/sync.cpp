#include "platform/sync.h"

#include <chrono>

namespace plat {

void AutoResetEvent::set() {
  {
    std::lock_guard<std::mutex> g(m_);
    signalled_ = true;
  }
  cv_.notify_one();
}

bool AutoResetEvent::wait(int timeoutMs) {
  std::unique_lock<std::mutex> g(m_);
  if (timeoutMs < 0) {
    cv_.wait(g, [this] { return signalled_; });
  } else if (!cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; })) {
    return false;
  }
  signalled_ = false;
  return true;
}

}  // namespace plat
