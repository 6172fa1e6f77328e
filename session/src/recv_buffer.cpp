#include "recv_buffer.h"

#include <cstring>

bool RecvBuffer::append(const void* bytes, std::size_t n) {
  if (n > room()) return false;
  if (n) std::memcpy(data_.get() + fill_, bytes, n);
  fill_ += n;
  return true;
}

bool RecvBuffer::front(std::uint32_t& type, std::uint32_t& length, const unsigned char*& payload,
                       bool& tooLong) const {
  tooLong = false;
  if (fill() < TD_FRAME_HEADER_SIZE) return false;
  const unsigned char* head = data_.get() + start_;
  length = td_get_be32(head + 4);
  if (length > kCapacity - TD_FRAME_HEADER_SIZE) {
    tooLong = true;
    return false;
  }
  if (fill() < length + TD_FRAME_HEADER_SIZE) return false;
  type = td_get_be32(head);
  payload = head + TD_FRAME_HEADER_SIZE;
  return true;
}

void RecvBuffer::pop() {
  start_ += TD_FRAME_HEADER_SIZE + td_get_be32(data_.get() + start_ + 4);
  if (start_ == fill_) start_ = fill_ = 0;
}

void RecvBuffer::compact() {
  if (start_ == 0) return;
  std::memmove(data_.get(), data_.get() + start_, fill_ - start_);
  fill_ -= start_;
  start_ = 0;
}
