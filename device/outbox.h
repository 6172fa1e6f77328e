// Messages that other threads ask the device to send to the connected
// sender. The device thread takes them on its next pass, so that every send,
// and every call into the media sink, stays on that one thread.
#pragma once
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace device {

struct OutboxItem {
  enum Kind { Send, Close } kind;
  std::uint32_t type;
  std::vector<std::uint8_t> payload;
};

class Outbox {
 public:
  // False when no connection is open: nothing is queued.
  bool post(OutboxItem item) {
    std::lock_guard<std::mutex> g(m_);
    if (!open_) return false;
    items_.push_back(std::move(item));
    return true;
  }
  std::deque<OutboxItem> takeAll() {
    std::lock_guard<std::mutex> g(m_);
    std::deque<OutboxItem> out;
    out.swap(items_);
    return out;
  }
  // A connection opens or ends; what was queued for an earlier one is dropped.
  void setOpen(bool open) {
    std::lock_guard<std::mutex> g(m_);
    open_ = open;
    items_.clear();
  }

 private:
  std::mutex m_;
  bool open_ = false;
  std::deque<OutboxItem> items_;
};

}  // namespace device
