#include "device/frame_reader.h"

#include <cstring>

#include "tdwire.h"

namespace device {

FrameReader::FrameReader(std::size_t maxPayload)
    : maxPayload_(maxPayload),
      capacity_(maxPayload + TD_FRAME_HEADER_SIZE),
      buffer_(new std::uint8_t[maxPayload + TD_FRAME_HEADER_SIZE]) {}

void FrameReader::reset() {
  fill_ = 0;
  broken_ = false;
  refusedLength_ = 0;
}

FrameReader::Result FrameReader::feed(const std::uint8_t* data, std::size_t count,
                                      const std::function<void(const Frame&)>& onFrame) {
  if (broken_) return Result::Oversized;
  while (count > 0) {
    // Top the buffer up, then take every complete frame out of it. A frame
    // always fits once its header has passed the length check, so the
    // buffer never needs more than one maximal frame.
    std::size_t take = capacity_ - fill_ < count ? capacity_ - fill_ : count;
    std::memcpy(buffer_.get() + fill_, data, take);
    fill_ += take;
    data += take;
    count -= take;

    std::size_t pos = 0;
    while (fill_ - pos >= TD_FRAME_HEADER_SIZE) {
      const std::uint8_t* head = buffer_.get() + pos;
      std::uint32_t length = td_get_be32(head + 4);
      if (length > maxPayload_) {
        broken_ = true;
        refusedLength_ = length;
        fill_ = 0;
        return Result::Oversized;
      }
      if (fill_ - pos < TD_FRAME_HEADER_SIZE + std::size_t(length)) break;
      onFrame(Frame{td_get_be32(head), length, head + TD_FRAME_HEADER_SIZE});
      pos += TD_FRAME_HEADER_SIZE + length;
    }
    if (pos > 0) {
      std::memmove(buffer_.get(), buffer_.get() + pos, fill_ - pos);
      fill_ -= pos;
    }
  }
  return Result::Ok;
}

}  // namespace device
