// Reassembles the framed messages of one connection (type and length,
// unsigned 32-bit big-endian, then the payload) from the bytes as they
// arrive. The buffer is allocated once, with the reader; a frame that
// declares more payload than the reader accepts is refused before anything
// of it is stored.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace device {

struct Frame {
  std::uint32_t type;
  std::uint32_t length;
  const std::uint8_t* payload;  // valid only during the handler call
};

class FrameReader {
 public:
  // The sender never puts more than 65,536 payload bytes in one frame.
  static constexpr std::size_t kDefaultMaxPayload = 65536;

  explicit FrameReader(std::size_t maxPayload = kDefaultMaxPayload);

  enum class Result { Ok, Oversized };

  // Appends bytes and calls onFrame for every complete frame, in order.
  // Returns Oversized, and stops, at the first header whose declared length
  // exceeds the limit; the stream cannot be resynchronised after that, so
  // the reader stays in that state until reset().
  Result feed(const std::uint8_t* data, std::size_t count,
              const std::function<void(const Frame&)>& onFrame);

  void reset();
  std::size_t buffered() const { return fill_; }
  std::size_t maxPayload() const { return maxPayload_; }
  // The declared length of the refused frame (after Oversized).
  std::uint32_t refusedLength() const { return refusedLength_; }

 private:
  std::size_t maxPayload_;
  std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t fill_ = 0;
  bool broken_ = false;
  std::uint32_t refusedLength_ = 0;
};

}  // namespace device
