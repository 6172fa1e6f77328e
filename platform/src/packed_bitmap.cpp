#include "packed_bitmap.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "platform/screen_grab.h"

namespace plat {
namespace {

void PutLe16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutLe32(std::uint8_t* p, std::uint32_t v) {
  PutLe16(p, v);
  PutLe16(p + 2, v >> 16);
}
std::int32_t GetLe32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}
std::int32_t GetLe16(const std::uint8_t* p) { return p[0] | p[1] << 8; }

// 32-bit little-endian words 0x00RRGGBB: four pixels become three words of
// blue, green, red bytes.
void PackRowXrgb32Plain(const std::uint8_t* src, std::uint8_t* dst, int count) {
  int x = 0;
  for (; x + 4 <= count; x += 4, src += 16, dst += 12) {
    std::uint32_t p[4];
    std::memcpy(p, src, 16);
    const std::uint32_t out[3] = {(p[0] & 0xffffff) | p[1] << 24, ((p[1] >> 8) & 0xffff) | p[2] << 16,
                                  ((p[2] >> 16) & 0xff) | p[3] << 8};
    std::memcpy(dst, out, 12);
  }
  for (; x < count; ++x, src += 4, dst += 3) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels at a time: each group of four loses its fourth bytes by a
// byte shuffle, and the four 12-byte results are stitched into 48 bytes.
__attribute__((target("ssse3"))) void PackRowXrgb32Ssse3(const std::uint8_t* src, std::uint8_t* dst,
                                                          int count) {
  const __m128i drop = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  int x = 0;
  for (; x + 16 <= count; x += 16, src += 64, dst += 48) {
    __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), drop);
    __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16)), drop);
    __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32)), drop);
    __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48)), drop);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(a, _mm_slli_si128(b, 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 32), _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
  }
  PackRowXrgb32Plain(src, dst, count - x);
}
#endif

using PackRowFn = void (*)(const std::uint8_t*, std::uint8_t*, int);

PackRowFn ChoosePackRow() {
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("ssse3")) return &PackRowXrgb32Ssse3;
#endif
  return &PackRowXrgb32Plain;
}

const PackRowFn PackRowXrgb32 = ChoosePackRow();

}  // namespace

void WritePackedHeader(std::uint8_t* p, std::int32_t width, std::int32_t height, std::int64_t rowBytes) {
  std::memset(p, 0, kPackedHeaderSize);
  PutLe32(p, kPackedHeaderSize);
  PutLe32(p + 4, static_cast<std::uint32_t>(width));
  PutLe32(p + 8, static_cast<std::uint32_t>(height));  // positive: bottom-up rows
  PutLe16(p + 12, 1);                                  // planes
  PutLe16(p + 14, 24);                                 // bits per pixel
  PutLe32(p + 16, 0);                                  // uncompressed
  PutLe32(p + 20, static_cast<std::uint32_t>(rowBytes * height));
}

PackedInfo ReadPackedHeader(const std::uint8_t* p) {
  PackedInfo info;
  info.headerSize = GetLe32(p);
  info.width = GetLe32(p + 4);
  info.height = GetLe32(p + 8);
  info.bitCount = GetLe16(p + 14);
  info.rowBytes = static_cast<std::int32_t>(PackedRowBytes(info.width));
  return info;
}

void PackXrgbRow(const std::uint8_t* src, std::uint8_t* dst, std::int32_t count) { PackRowXrgb32(src, dst, count); }

}  // namespace plat
