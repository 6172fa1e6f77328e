#include "md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Hex(const std::string& input, std::size_t chunk = 0) {
  std::uint8_t d[16];
  if (chunk == 0) {
    tds::md5Digest(input.data(), input.size(), d);
  } else {
    tds::Md5 md5;
    for (std::size_t i = 0; i < input.size(); i += chunk) md5.update(input.data() + i, std::min(chunk, input.size() - i));
    md5.finish(d);
  }
  char out[33];
  for (int i = 0; i < 16; ++i) std::snprintf(out + 2 * i, 3, "%02x", d[i]);
  return out;
}

}  // namespace

TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ(Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PiecewiseUpdatesMatchOneShotAcrossBlockBoundaries) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i * 7 + 3));
  // Lengths around the 56- and 64-byte padding edges, fed in odd pieces.
  for (std::size_t len : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
    std::string part = data.substr(0, len);
    for (std::size_t chunk : {1u, 3u, 17u, 64u}) EXPECT_EQ(Hex(part, chunk), Hex(part)) << len << "/" << chunk;
  }
}
