// Reassembles frames (type, length, payload) from the bytes of the stream.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "tdwire.h"

class RecvBuffer {
 public:
  static constexpr std::size_t kCapacity = 524288;

  RecvBuffer() : data_(new unsigned char[kCapacity]) {}

  void clear() { start_ = fill_ = 0; }
  // Bytes buffered and not yet handled.
  std::size_t fill() const { return fill_ - start_; }
  // Room left; a receive never asks for more than this.
  std::size_t room() const { return kCapacity - fill_; }
  unsigned char* end() { return data_.get() + fill_; }
  // Accounts for n bytes written at end(); n never exceeds room().
  void commit(std::size_t n) { fill_ += n; }
  // Copies bytes in; false (and nothing copied) when they do not fit.
  bool append(const void* bytes, std::size_t n);

  // The first complete frame, if any. A declared length that could never fit
  // into the buffer sets tooLong and yields nothing.
  bool front(std::uint32_t& type, std::uint32_t& length, const unsigned char*& payload, bool& tooLong) const;
  // Drops the first frame (its header and payload).
  void pop();
  // Moves the bytes of an incomplete frame to the start of the buffer; done
  // once per received chunk rather than once per frame.
  void compact();

 private:
  std::unique_ptr<unsigned char[]> data_;
  std::size_t start_ = 0;  // first unhandled byte
  std::size_t fill_ = 0;   // end of the buffered bytes
};
