// Colour conversion of one row, AVX-512 (BW + VBMI): thirty-two pixels
// (96 bytes) at a time, their bytes regrouped by two-register byte permutes.
#include <immintrin.h>

#include "media/scaler_kernels.h"

namespace scaler_detail {

namespace {

// Permute indices into the pair (bytes 0..63 at p, bytes 32..95 at p + 32).
// Built at compile time: code in this file may only run on CPUs with AVX-512.
struct Indices {
  alignas(64) std::uint8_t blueGreen[64] = {};  // B, G of pixels 0..31
  alignas(64) std::uint8_t red[64] = {};        // R, R of pixels 0..31
  alignas(64) std::uint8_t even[64] = {};       // B, G of pixels 0, 2, .. 30, then R, R of them
  alignas(64) std::uint8_t odd[64] = {};        // the same of pixels 1, 3, .. 31
  static constexpr std::uint8_t At(int byte) {
    return static_cast<std::uint8_t>(byte < 64 ? byte : 64 + byte - 32);
  }
  constexpr Indices() {
    for (int q = 0; q < 32; ++q) {
      blueGreen[2 * q] = At(3 * q);
      blueGreen[2 * q + 1] = At(3 * q + 1);
      red[2 * q] = red[2 * q + 1] = At(3 * q + 2);
    }
    for (int m = 0; m < 16; ++m) {
      const int e = 3 * (2 * m), o = 3 * (2 * m + 1);
      even[2 * m] = At(e);
      even[2 * m + 1] = At(e + 1);
      even[32 + 2 * m] = even[32 + 2 * m + 1] = At(e + 2);
      odd[2 * m] = At(o);
      odd[2 * m + 1] = At(o + 1);
      odd[32 + 2 * m] = odd[32 + 2 * m + 1] = At(o + 2);
    }
  }
};
constexpr Indices kIndices;

inline __m512i Pairs(std::int8_t a, std::int8_t b) {
  return _mm512_set1_epi16(static_cast<std::int16_t>((a & 0xFF) | ((b & 0xFF) << 8)));
}

// Two 8-bit dot products per half: blue-green pairs in the low 32 bytes and
// red in the high 32, summed into 16 words.
inline __m256i Chroma16(__m512i mean, __m512i coef) {
  const __m512i w = _mm512_maddubs_epi16(mean, coef);
  const __m256i s = _mm256_add_epi16(_mm512_castsi512_si256(w), _mm512_extracti64x4_epi64(w, 1));
  return _mm256_add_epi16(_mm256_srai_epi16(s, 7), _mm256_set1_epi16(128));
}

inline void Block32(const std::uint8_t* p, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v) {
  const __m512i a = _mm512_loadu_si512(p), b = _mm512_loadu_si512(p + 32);
  const __m512i bg = _mm512_permutex2var_epi8(a, _mm512_load_si512(kIndices.blueGreen), b);
  const __m512i rr = _mm512_permutex2var_epi8(a, _mm512_load_si512(kIndices.red), b);
  __m512i luma = _mm512_add_epi16(_mm512_maddubs_epi16(bg, Pairs(13, 65)),
                                  _mm512_maddubs_epi16(rr, Pairs(33, 0)));
  luma = _mm512_add_epi16(_mm512_srli_epi16(luma, 7), _mm512_set1_epi16(16));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(y), _mm512_cvtusepi16_epi8(luma));
  if (!u) return;

  const __m512i mean = _mm512_avg_epu8(_mm512_permutex2var_epi8(a, _mm512_load_si512(kIndices.even), b),
                                       _mm512_permutex2var_epi8(a, _mm512_load_si512(kIndices.odd), b));
  // Blue-green halves (56, -36) and (-8, -46); red halves (-18, 0) and (56, 0).
  const __m512i coefU = _mm512_mask_blend_epi64(0xF0, Pairs(56, -36), Pairs(-18, 0));
  const __m512i coefV = _mm512_mask_blend_epi64(0xF0, Pairs(-8, -46), Pairs(56, 0));
  // u0-7 v0-7 | u8-15 v8-15, reordered to u0-15 | v0-15.
  const __m256i uv = _mm256_permute4x64_epi64(
      _mm256_packus_epi16(Chroma16(mean, coefU), Chroma16(mean, coefV)), _MM_SHUFFLE(3, 1, 2, 0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(u), _mm256_castsi256_si128(uv));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(v), _mm256_extracti128_si256(uv, 1));
}

}  // namespace

void Avx512ConvertRow(const std::uint8_t* src, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v,
                      int width) {
  if (width < 32) {
    Avx2ConvertRow(src, y, u, v, width);
    return;
  }
  int x = 0;
  for (; x + 32 <= width; x += 32)
    Block32(src + 3 * x, y + x, u ? u + x / 2 : nullptr, v ? v + x / 2 : nullptr);
  if (x < width) {
    // One more block ending at (or one before) the row's end, overlapping the
    // previous one; it starts on an even pixel to keep chroma pairs.
    const int last = (width - 32) & ~1;
    Block32(src + 3 * last, y + last, u ? u + last / 2 : nullptr, v ? v + last / 2 : nullptr);
    x = last + 32;
  }
  ConvertPixels(src, y, u, v, x, width);
}

}  // namespace scaler_detail
