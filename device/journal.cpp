#include "device/journal.h"

#include <chrono>

namespace device {

std::vector<ReceivedMessage> DeviceState::ofType(std::uint32_t type) const {
  std::vector<ReceivedMessage> out;
  for (const ReceivedMessage& m : messages)
    if (m.type == type) out.push_back(m);
  return out;
}

DeviceState DeviceJournal::snapshot() const {
  std::lock_guard<std::mutex> g(m_);
  return state_;
}

bool DeviceJournal::waitFor(const std::function<bool(const DeviceState&)>& pred,
                            int timeoutMs) const {
  std::unique_lock<std::mutex> g(m_);
  return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return pred(state_); });
}

void DeviceJournal::update(const std::function<void(DeviceState&)>& change) {
  {
    std::lock_guard<std::mutex> g(m_);
    change(state_);
  }
  cv_.notify_all();
}

}  // namespace device
