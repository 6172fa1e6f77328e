// Colour conversion of one row, SSE2: eight pixels at a time, each pixel
// read as one 32-bit word whose fourth byte the zero coefficient drops.
#include <emmintrin.h>

#include <cstring>

#include "media/scaler_kernels.h"

namespace scaler_detail {

namespace {

inline __m128i Pixel(const std::uint8_t* p) {
  std::int32_t w;
  std::memcpy(&w, p, 4);
  return _mm_cvtsi32_si128(w);
}

// Four pixels at p, p + 6, p + 12, p + 18 (every second pixel) as 32-bit words.
inline __m128i EverySecondPixel(const std::uint8_t* p) {
  __m128i a = _mm_unpacklo_epi32(Pixel(p), Pixel(p + 6));
  __m128i b = _mm_unpacklo_epi32(Pixel(p + 12), Pixel(p + 18));
  return _mm_unpacklo_epi64(a, b);
}

// Dot product of four pixels (words B, G, R, x) with four 16-bit coefficients.
inline __m128i Dot4(__m128i pixels, __m128i coef) {
  const __m128i zero = _mm_setzero_si128();
  __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(pixels, zero), coef);  // pixels 0, 1
  __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(pixels, zero), coef);  // pixels 2, 3
  __m128 even = _mm_shuffle_ps(_mm_castsi128_ps(lo), _mm_castsi128_ps(hi), _MM_SHUFFLE(2, 0, 2, 0));
  __m128 odd = _mm_shuffle_ps(_mm_castsi128_ps(lo), _mm_castsi128_ps(hi), _MM_SHUFFLE(3, 1, 3, 1));
  return _mm_add_epi32(_mm_castps_si128(even), _mm_castps_si128(odd));
}

}  // namespace

void Sse2ConvertRow(const std::uint8_t* src, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v,
                    int width) {
  const __m128i coefY = _mm_setr_epi16(13, 65, 33, 0, 13, 65, 33, 0);
  const __m128i coefU = _mm_setr_epi16(56, -36, -18, 0, 56, -36, -18, 0);
  const __m128i coefV = _mm_setr_epi16(-8, -46, 56, 0, -8, -46, 56, 0);
  const __m128i sixteen = _mm_set1_epi32(16);
  const __m128i half = _mm_set1_epi32(128);
  int x = 0;
  // The last pixel's 32-bit read would pass the row's end: it is left to the
  // scalar tail, with whatever else does not fill a block.
  for (; x + 8 < width; x += 8) {
    const std::uint8_t* p = src + 3 * x;
    const __m128i even = EverySecondPixel(p);      // pixels 0, 2, 4, 6
    const __m128i odd = EverySecondPixel(p + 3);   // pixels 1, 3, 5, 7
    __m128i yEven = _mm_add_epi32(_mm_srli_epi32(Dot4(even, coefY), 7), sixteen);
    __m128i yOdd = _mm_add_epi32(_mm_srli_epi32(Dot4(odd, coefY), 7), sixteen);
    __m128i y16 = _mm_packs_epi32(_mm_unpacklo_epi32(yEven, yOdd), _mm_unpackhi_epi32(yEven, yOdd));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(y + x), _mm_packus_epi16(y16, y16));
    if (u) {
      const __m128i mean = _mm_avg_epu8(even, odd);  // rounds up, as the chroma formula asks
      __m128i u32 = _mm_add_epi32(_mm_srai_epi32(Dot4(mean, coefU), 7), half);
      __m128i v32 = _mm_add_epi32(_mm_srai_epi32(Dot4(mean, coefV), 7), half);
      __m128i uv = _mm_packus_epi16(_mm_packs_epi32(u32, v32), _mm_setzero_si128());
      const std::int32_t u4 = _mm_cvtsi128_si32(uv), v4 = _mm_cvtsi128_si32(_mm_srli_si128(uv, 4));
      std::memcpy(u + x / 2, &u4, 4);
      std::memcpy(v + x / 2, &v4, 4);
    }
  }
  ConvertPixels(src, y, u, v, x, width);
}

}  // namespace scaler_detail
