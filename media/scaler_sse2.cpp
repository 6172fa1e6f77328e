// Scaler row kernels, SSE2: the horizontal filter four columns per 16 bytes
// (one 32-bit read of four consecutive source bytes per column), the vertical
// filter sixteen columns at a time in 16-bit lanes.
#include <emmintrin.h>

#include <cstring>

#include "media/scaler_kernels.h"

namespace scaler_detail {

namespace {

inline __m128i Taps(const std::uint8_t* row, std::int32_t first) {
  std::int32_t w;
  std::memcpy(&w, row + first, 4);
  return _mm_cvtsi32_si128(w);
}

// Columns x .. x + 3: their four taps times their folded coefficients, summed.
inline __m128i Columns4(const ColumnPlan& plan, const std::uint8_t* row, int x) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i taps = _mm_unpacklo_epi64(
      _mm_unpacklo_epi32(Taps(row, plan.first[x]), Taps(row, plan.first[x + 1])),
      _mm_unpacklo_epi32(Taps(row, plan.first[x + 2]), Taps(row, plan.first[x + 3])));
  const __m128i* coef = reinterpret_cast<const __m128i*>(plan.coef + 4 * x);
  const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(taps, zero), _mm_loadu_si128(coef));
  const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(taps, zero), _mm_loadu_si128(coef + 1));
  const __m128 even = _mm_shuffle_ps(_mm_castsi128_ps(lo), _mm_castsi128_ps(hi), _MM_SHUFFLE(2, 0, 2, 0));
  const __m128 odd = _mm_shuffle_ps(_mm_castsi128_ps(lo), _mm_castsi128_ps(hi), _MM_SHUFFLE(3, 1, 3, 1));
  return _mm_srai_epi32(_mm_add_epi32(_mm_castps_si128(even), _mm_castps_si128(odd)), 7);
}

inline void Columns8(const ColumnPlan& plan, const std::uint8_t* row, std::uint8_t* dst, int x) {
  const __m128i sums = _mm_packs_epi32(Columns4(plan, row, x), Columns4(plan, row, x + 4));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + x), _mm_packus_epi16(sums, sums));
}

void HorizontalRow(const ColumnPlan& plan, const std::uint8_t* row, std::uint8_t* dst) {
  const int width = plan.dstWidth;
  if (!plan.folded || width < 8) {
    HorizontalColumns(plan, row, dst, 0, width);
    return;
  }
  int x = 0;
  for (; x + 8 <= width; x += 8) Columns8(plan, row, dst, x);
  if (x < width) Columns8(plan, row, dst, width - 8);  // overlaps the block before
}

inline __m128i Lanes16(const std::uint8_t* const rows[4], const __m128i c[4], int x, bool high) {
  const __m128i zero = _mm_setzero_si128();
  __m128i p[4];
  for (int k = 0; k < 4; ++k) {
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x));
    p[k] = _mm_mullo_epi16(high ? _mm_unpackhi_epi8(r, zero) : _mm_unpacklo_epi8(r, zero), c[k]);
  }
  const __m128i s = _mm_adds_epi16(_mm_adds_epi16(p[0], p[1]), _mm_adds_epi16(p[2], p[3]));
  return _mm_srai_epi16(s, 7);
}

inline void Vertical16(const std::uint8_t* const rows[4], const __m128i c[4], std::uint8_t* dst,
                       int x) {
  const __m128i out = _mm_packus_epi16(Lanes16(rows, c, x, false), Lanes16(rows, c, x, true));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), out);
}

void VerticalRow(const std::uint8_t* const rows[4], const std::int16_t* coef, std::uint8_t* dst,
                 int width) {
  const int lanes = width & ~3;
  int x = 0;
  if (lanes >= 16) {
    const __m128i c[4] = {_mm_set1_epi16(coef[0]), _mm_set1_epi16(coef[1]),
                          _mm_set1_epi16(coef[2]), _mm_set1_epi16(coef[3])};
    for (; x + 16 <= lanes; x += 16) Vertical16(rows, c, dst, x);
    if (x < lanes) Vertical16(rows, c, dst, lanes - 16);
    x = lanes;
  }
  VerticalColumns(rows, coef, dst, x, width);
}

}  // namespace

const RowKernels kSse2Kernels = {Sse2ConvertRow, HorizontalRow, VerticalRow};

}  // namespace scaler_detail
