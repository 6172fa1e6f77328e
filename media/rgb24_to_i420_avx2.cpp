// Colour conversion of one row, AVX2: sixteen pixels (48 bytes) at a time,
// spread by byte shuffles into 32-bit words B, G, R, 0.
#include <immintrin.h>

#include <cstring>

#include "media/scaler_kernels.h"
#include "media/simd_avx2.h"

namespace scaler_detail {

namespace {

// Sixteen pixels at p; writes 16 luma bytes and, with u, 8 U and 8 V bytes.
inline void Block16(const std::uint8_t* p, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v) {
  // Four pixels from the start of a 16-byte load, or (last) from its byte 4,
  // so that no load passes the block's 48 bytes.
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11,
                                          -128, 0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10,
                                          11, -128);
  const __m256i spreadLast = _mm256_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10,
                                              11, -128, 4, 5, 6, -128, 7, 8, 9, -128, 10, 11, 12,
                                              -128, 13, 14, 15, -128);
  const __m256i px0 = _mm256_shuffle_epi8(Load2(p, p + 12), spread);          // 0-3 | 4-7
  const __m256i px1 = _mm256_shuffle_epi8(Load2(p + 24, p + 32), spreadLast);  // 8-11 | 12-15

  // Luma: 13 B + 65 G + 33 R never exceeds 28,305, so 16-bit sums are exact.
  const __m256i coefY = _mm256_set1_epi32(0x0021410D);  // 13, 65, 33, 0
  __m256i y16 = _mm256_hadd_epi16(_mm256_maddubs_epi16(px0, coefY),
                                  _mm256_maddubs_epi16(px1, coefY));  // 0-3 8-11 | 4-7 12-15
  y16 = _mm256_add_epi16(_mm256_srli_epi16(y16, 7), _mm256_set1_epi16(16));
  const __m256i y8 = _mm256_packus_epi16(y16, y16);
  const __m128i yOut =
      _mm_unpacklo_epi32(_mm256_castsi256_si128(y8), _mm256_extracti128_si256(y8, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(y), yOut);
  if (!u) return;

  // Chroma: average neighbouring pixels (rounding up), then the two dot products.
  const __m256i even = _mm256_castps_si256(_mm256_shuffle_ps(
      _mm256_castsi256_ps(px0), _mm256_castsi256_ps(px1), _MM_SHUFFLE(2, 0, 2, 0)));
  const __m256i odd = _mm256_castps_si256(_mm256_shuffle_ps(
      _mm256_castsi256_ps(px0), _mm256_castsi256_ps(px1), _MM_SHUFFLE(3, 1, 3, 1)));
  const __m256i mean = _mm256_avg_epu8(even, odd);  // pairs 0 1 4 5 | 2 3 6 7
  const __m256i coefU = _mm256_set1_epi32(0x00EEDC38);  // 56, -36, -18, 0
  const __m256i coefV = _mm256_set1_epi32(0x0038D2F8);  // -8, -46, 56, 0
  __m256i uv16 = _mm256_hadd_epi16(_mm256_maddubs_epi16(mean, coefU),
                                   _mm256_maddubs_epi16(mean, coefV));
  uv16 = _mm256_add_epi16(_mm256_srai_epi16(uv16, 7), _mm256_set1_epi16(128));
  const __m256i uv8 = _mm256_packus_epi16(uv16, uv16);  // u01 u45 v01 v45 | u23 u67 v23 v67
  const __m128i uvOut =
      _mm_unpacklo_epi16(_mm256_castsi256_si128(uv8), _mm256_extracti128_si256(uv8, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(u), uvOut);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(v), _mm_srli_si128(uvOut, 8));
}

}  // namespace

void Avx2ConvertRow(const std::uint8_t* src, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v,
                    int width) {
  int x = 0;
  if (width >= 16) {
    for (; x + 16 <= width; x += 16)
      Block16(src + 3 * x, y + x, u ? u + x / 2 : nullptr, v ? v + x / 2 : nullptr);
    if (x < width) {
      // One more block ending at (or one before) the row's end, overlapping
      // the previous one; it starts on an even pixel to keep chroma pairs.
      const int last = (width - 16) & ~1;
      Block16(src + 3 * last, y + last, u ? u + last / 2 : nullptr, v ? v + last / 2 : nullptr);
      x = last + 16;
    }
  }
  ConvertPixels(src, y, u, v, x, width);
}

}  // namespace scaler_detail
