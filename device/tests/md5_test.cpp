#include "device/md5.h"

#include <gtest/gtest.h>

#include <string>

#include "device/log.h"

namespace {

std::string hexOf(const std::string& text) {
  std::uint8_t d[device::kMd5Size];
  device::md5(text.data(), text.size(), d);
  return device::hexBytes(d, sizeof d);
}

// The test suite of RFC 1321, appendix A.5.
TEST(Md5, Rfc1321Suite) {
  EXPECT_EQ(hexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(hexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(hexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(hexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(hexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(hexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(hexOf("1234567890123456789012345678901234567890"
                  "1234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

// Pieces of every size give the digest of the whole, across the 56- and
// 64-byte boundaries where the padding changes shape.
TEST(Md5, PiecewiseEqualsWhole) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += static_cast<char>('!' + i % 90);
  for (std::size_t length : {55u, 56u, 63u, 64u, 65u, 79u, 119u, 120u, 200u}) {
    std::uint8_t whole[device::kMd5Size], pieces[device::kMd5Size];
    device::md5(text.data(), length, whole);
    for (std::size_t step = 1; step <= 70; step += 23) {
      device::Md5 h;
      for (std::size_t at = 0; at < length; at += step)
        h.update(text.data() + at, std::min(step, length - at));
      h.finish(pieces);
      EXPECT_EQ(device::hexBytes(whole, 16), device::hexBytes(pieces, 16))
          << "length " << length << " step " << step;
    }
  }
}

}  // namespace
