// MD5 message digest (RFC 1321). The device keeps its own copy so that it
// checks the sender's password answers independently of the sender's code.
#pragma once
#include <cstddef>
#include <cstdint>

namespace device {

constexpr std::size_t kMd5Size = 16;

class Md5 {
 public:
  Md5();
  void update(const void* data, std::size_t length);
  // Writes the 16 digest bytes; the object must not be updated afterwards.
  void finish(std::uint8_t out[kMd5Size]);

 private:
  void transform(const std::uint8_t block[64]);

  std::uint32_t state_[4];
  std::uint64_t bitCount_ = 0;
  std::uint8_t buffer_[64];
};

// Digest of one byte range.
void md5(const void* data, std::size_t length, std::uint8_t out[kMd5Size]);

}  // namespace device
