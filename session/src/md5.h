// MD5 message digest (RFC 1321), used for the password answer.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tds {

constexpr std::size_t kMd5DigestSize = 16;

class Md5 {
 public:
  Md5();
  void update(const void* data, std::size_t length);
  // Writes the 16 digest bytes; the object must not be updated afterwards.
  void finish(std::uint8_t digest[kMd5DigestSize]);

 private:
  void transform(const std::uint8_t block[64]);

  std::uint32_t state_[4];
  std::uint64_t bitCount_ = 0;
  std::uint8_t buffer_[64];
};

// One-shot digest of a byte range.
void md5Digest(const void* data, std::size_t length, std::uint8_t digest[kMd5DigestSize]);

}  // namespace tds
