// Scaler row kernels, AVX-512 (BW + VBMI): the horizontal filter thirty-two
// columns at a time, their taps permuted out of two 64-byte windows of the
// source row; the vertical filter sixty-four columns at a time. What does not
// fit these shapes goes to the AVX2 kernels, which every such CPU also runs.
#include <immintrin.h>

#include "media/scaler_kernels.h"

namespace scaler_detail {

namespace {

void HorizontalRow(const ColumnPlan& plan, const std::uint8_t* row, std::uint8_t* dst) {
  if (plan.wideGroupCount == 0) {
    kAvx2Kernels.horizontalRow(plan, row, dst);
    return;
  }
  // Qwords 0, 2, 4, 6 of the packed bytes: columns 0-7, 8-15, 16-23, 24-31.
  const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
  for (int i = 0; i < plan.wideGroupCount; ++i) {
    const Avx512Group& g = plan.wideGroups[i];
    if (!g.simd) {
      HorizontalColumns(plan, row, dst, g.firstColumn, g.firstColumn + 32);
      continue;
    }
    const __m512i a = _mm512_loadu_si512(row + g.window[0]);
    const __m512i b = _mm512_loadu_si512(row + g.window[1]);
    const __m512i taps01 = _mm512_permutex2var_epi8(a, _mm512_load_si512(g.index[0]), b);
    const __m512i taps23 = _mm512_permutex2var_epi8(a, _mm512_load_si512(g.index[1]), b);
    const __m512i sums = _mm512_srai_epi16(
        _mm512_adds_epi16(_mm512_maddubs_epi16(taps01, _mm512_load_si512(g.coef[0])),
                          _mm512_maddubs_epi16(taps23, _mm512_load_si512(g.coef[1]))),
        7);
    const __m512i bytes = _mm512_permutexvar_epi64(order, _mm512_packus_epi16(sums, sums));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + g.firstColumn),
                        _mm512_castsi512_si256(bytes));
  }
}

inline __m512i BytePair(std::int16_t a, std::int16_t b) {
  return _mm512_set1_epi16(static_cast<std::int16_t>((a & 0xFF) | ((b & 0xFF) << 8)));
}

// With every coefficient in 8 bits, one multiply-add of interleaved rows
// gives the saturated pair sum that 16-bit lanes give.
inline void Vertical64(const std::uint8_t* const rows[4], __m512i c01, __m512i c23,
                       std::uint8_t* dst, int x) {
  const __m512i r0 = _mm512_loadu_si512(rows[0] + x), r1 = _mm512_loadu_si512(rows[1] + x);
  const __m512i r2 = _mm512_loadu_si512(rows[2] + x), r3 = _mm512_loadu_si512(rows[3] + x);
  const __m512i lo = _mm512_adds_epi16(_mm512_maddubs_epi16(_mm512_unpacklo_epi8(r0, r1), c01),
                                       _mm512_maddubs_epi16(_mm512_unpacklo_epi8(r2, r3), c23));
  const __m512i hi = _mm512_adds_epi16(_mm512_maddubs_epi16(_mm512_unpackhi_epi8(r0, r1), c01),
                                       _mm512_maddubs_epi16(_mm512_unpackhi_epi8(r2, r3), c23));
  _mm512_storeu_si512(dst + x,
                      _mm512_packus_epi16(_mm512_srai_epi16(lo, 7), _mm512_srai_epi16(hi, 7)));
}

void VerticalRow(const std::uint8_t* const rows[4], const std::int16_t* coef, std::uint8_t* dst,
                 int width) {
  const int lanes = width & ~3;
  if (lanes < 64 || !FitsBytes(coef)) {
    kAvx2Kernels.verticalRow(rows, coef, dst, width);
    return;
  }
  const __m512i c01 = BytePair(coef[0], coef[1]), c23 = BytePair(coef[2], coef[3]);
  int x = 0;
  for (; x + 64 <= lanes; x += 64) Vertical64(rows, c01, c23, dst, x);
  if (x < lanes) Vertical64(rows, c01, c23, dst, lanes - 64);  // overlaps the block before
  VerticalColumns(rows, coef, dst, lanes, width);
}

}  // namespace

const RowKernels kAvx512Kernels = {Avx512ConvertRow, HorizontalRow, VerticalRow};

}  // namespace scaler_detail
