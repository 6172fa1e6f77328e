// Scaler row kernels, AVX2: the horizontal filter eight columns at a time,
// each pair of columns shuffled out of one 16-byte window of the source row;
// the vertical filter thirty-two columns at a time in 16-bit lanes.
#include <immintrin.h>

#include "media/scaler_kernels.h"

namespace scaler_detail {

namespace {

inline __m256i Load2(const std::uint8_t* lo, const std::uint8_t* hi) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}

void HorizontalRow(const ColumnPlan& plan, const std::uint8_t* row, std::uint8_t* dst) {
  if (plan.groupCount == 0) {
    HorizontalColumns(plan, row, dst, 0, plan.dstWidth);
    return;
  }
  for (int i = 0; i < plan.groupCount; ++i) {
    const Avx2Group& g = plan.groups[i];
    if (!g.simd) {
      HorizontalColumns(plan, row, dst, g.firstColumn, g.firstColumn + 8);
      continue;
    }
    // Taps as 16-bit words: columns 0 1 | 4 5 and 2 3 | 6 7.
    const __m256i t0 = _mm256_shuffle_epi8(Load2(row + g.window[0], row + g.window[1]),
                                           _mm256_load_si256(reinterpret_cast<const __m256i*>(g.mask[0])));
    const __m256i t1 = _mm256_shuffle_epi8(Load2(row + g.window[2], row + g.window[3]),
                                           _mm256_load_si256(reinterpret_cast<const __m256i*>(g.mask[2])));
    const __m256i p0 = _mm256_madd_epi16(t0, _mm256_load_si256(reinterpret_cast<const __m256i*>(g.coef[0])));
    const __m256i p1 = _mm256_madd_epi16(t1, _mm256_load_si256(reinterpret_cast<const __m256i*>(g.coef[2])));
    __m256i sums = _mm256_srai_epi32(_mm256_hadd_epi32(p0, p1), 7);  // 0-3 | 4-7
    sums = _mm256_packs_epi32(sums, sums);
    const __m256i bytes = _mm256_packus_epi16(sums, sums);
    const __m128i out =
        _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + g.firstColumn), out);
  }
}

inline __m256i Lanes16(const std::uint8_t* const rows[4], const __m256i c[4], int x) {
  __m256i p[4];
  for (int k = 0; k < 4; ++k)
    p[k] = _mm256_mullo_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x))), c[k]);
  const __m256i s = _mm256_adds_epi16(_mm256_adds_epi16(p[0], p[1]), _mm256_adds_epi16(p[2], p[3]));
  return _mm256_srai_epi16(s, 7);
}

inline void Vertical32(const std::uint8_t* const rows[4], const __m256i c[4], std::uint8_t* dst,
                       int x) {
  const __m256i out = _mm256_permute4x64_epi64(
      _mm256_packus_epi16(Lanes16(rows, c, x), Lanes16(rows, c, x + 16)), _MM_SHUFFLE(3, 1, 2, 0));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), out);
}

inline void Vertical16(const std::uint8_t* const rows[4], const __m256i c[4], std::uint8_t* dst,
                       int x) {
  const __m256i s = Lanes16(rows, c, x);
  const __m256i out = _mm256_permute4x64_epi64(_mm256_packus_epi16(s, s), _MM_SHUFFLE(3, 1, 2, 0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm256_castsi256_si128(out));
}

void VerticalRow(const std::uint8_t* const rows[4], const std::int16_t* coef, std::uint8_t* dst,
                 int width) {
  const int lanes = width & ~3;
  int x = 0;
  if (lanes >= 16) {
    const __m256i c[4] = {_mm256_set1_epi16(coef[0]), _mm256_set1_epi16(coef[1]),
                          _mm256_set1_epi16(coef[2]), _mm256_set1_epi16(coef[3])};
    for (; x + 32 <= lanes; x += 32) Vertical32(rows, c, dst, x);
    if (x + 16 <= lanes) {
      Vertical16(rows, c, dst, x);
      x += 16;
    }
    if (x < lanes) Vertical16(rows, c, dst, lanes - 16);  // overlaps the block before
    x = lanes;
  }
  VerticalColumns(rows, coef, dst, x, width);
}

}  // namespace

const RowKernels kAvx2Kernels = {Avx2ConvertRow, HorizontalRow, VerticalRow};

}  // namespace scaler_detail
