// Scaler row kernels, AVX2: the horizontal filter sixteen columns at a time
// where eight columns' taps fit one 16-byte window (steps up to about 1.7),
// else eight at a time, their taps shuffled out of 16-byte windows of the
// source row; the vertical filter thirty-two columns at a time.
#include <immintrin.h>

#include "media/scaler_kernels.h"
#include "media/simd_avx2.h"

namespace scaler_detail {

namespace {

inline const __m256i* At(const void* p) { return reinterpret_cast<const __m256i*>(p); }

// Eight columns as 16 sums of tap pairs (8-bit taps and coefficients).
inline __m256i BytePairs(const Avx2Group& g, const std::uint8_t* row) {
  const __m256i taps = _mm256_shuffle_epi8(Load2(row + g.byteWindow[0], row + g.byteWindow[1]),
                                           _mm256_load_si256(At(g.byteMask)));
  return _mm256_maddubs_epi16(taps, _mm256_load_si256(At(g.byteCoef)));
}

// Two groups of 8 adjacent columns, 16 output bytes.
inline void BytesTwoGroups(const Avx2Group& a, const Avx2Group& b, const std::uint8_t* row,
                           std::uint8_t* dst) {
  // Saturating pair adds: a0-3 b0-3 | a4-7 b4-7.
  const __m256i sums = _mm256_srai_epi16(_mm256_hadds_epi16(BytePairs(a, row), BytePairs(b, row)), 7);
  const __m256i bytes = _mm256_packus_epi16(sums, sums);
  const __m128i out =
      _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + a.firstColumn), out);
}

inline void BytesOneGroup(const Avx2Group& g, const std::uint8_t* row, std::uint8_t* dst) {
  const __m256i pairs = BytePairs(g, row);
  const __m256i sums = _mm256_srai_epi16(_mm256_hadds_epi16(pairs, pairs), 7);
  const __m256i bytes = _mm256_packus_epi16(sums, sums);
  const __m128i out =
      _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + g.firstColumn), out);
}

inline void WordsOneGroup(const Avx2Group& g, const std::uint8_t* row, std::uint8_t* dst) {
  // Taps as 16-bit words: columns 0 1 | 4 5 and 2 3 | 6 7.
  const __m256i t0 = _mm256_shuffle_epi8(Load2(row + g.wordWindow[0], row + g.wordWindow[1]),
                                         _mm256_load_si256(At(g.wordMask[0])));
  const __m256i t1 = _mm256_shuffle_epi8(Load2(row + g.wordWindow[2], row + g.wordWindow[3]),
                                         _mm256_load_si256(At(g.wordMask[2])));
  const __m256i p0 = _mm256_madd_epi16(t0, _mm256_load_si256(At(g.wordCoef[0])));
  const __m256i p1 = _mm256_madd_epi16(t1, _mm256_load_si256(At(g.wordCoef[2])));
  __m256i sums = _mm256_srai_epi32(_mm256_hadd_epi32(p0, p1), 7);  // 0-3 | 4-7
  sums = _mm256_packs_epi32(sums, sums);
  const __m256i bytes = _mm256_packus_epi16(sums, sums);
  const __m128i out =
      _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + g.firstColumn), out);
}

// Sixteen columns as 16-bit sums: columns 0-7 | 8-15.
inline __m256i PairSums(const Avx2PairGroup& g, const std::uint8_t* row) {
  const __m256i window = Load2(row + g.window[0], row + g.window[1]);
  const __m256i taps01 = _mm256_shuffle_epi8(window, _mm256_load_si256(At(g.mask[0])));
  const __m256i taps23 = _mm256_shuffle_epi8(window, _mm256_load_si256(At(g.mask[1])));
  return _mm256_srai_epi16(
      _mm256_adds_epi16(_mm256_maddubs_epi16(taps01, _mm256_load_si256(At(g.coef[0]))),
                        _mm256_maddubs_epi16(taps23, _mm256_load_si256(At(g.coef[1])))),
      7);
}

void PairGroupsRow(const ColumnPlan& plan, const std::uint8_t* row, std::uint8_t* dst) {
  const Avx2PairGroup* g = plan.pairGroups;
  const Avx2PairGroup* end = g + plan.pairGroupCount;
  while (g != end) {
    if (g + 1 != end && g[1].firstColumn == g->firstColumn + 16) {
      // a0-7 b0-7 | a8-15 b8-15, reordered to a0-15 b0-15.
      const __m256i bytes = _mm256_permute4x64_epi64(
          _mm256_packus_epi16(PairSums(g[0], row), PairSums(g[1], row)), _MM_SHUFFLE(3, 1, 2, 0));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + g->firstColumn), bytes);
      g += 2;
    } else {
      const __m256i sums = PairSums(*g, row);
      const __m256i bytes =
          _mm256_permute4x64_epi64(_mm256_packus_epi16(sums, sums), _MM_SHUFFLE(3, 1, 2, 0));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + g->firstColumn),
                       _mm256_castsi256_si128(bytes));
      ++g;
    }
  }
}

void HorizontalRow(const ColumnPlan& plan, const std::uint8_t* row, std::uint8_t* dst) {
  if (plan.pairGroupCount > 0) {
    PairGroupsRow(plan, row, dst);
    return;
  }
  if (plan.groupCount == 0) {
    HorizontalColumns(plan, row, dst, 0, plan.dstWidth);
    return;
  }
  const Avx2Group* g = plan.groups;
  const Avx2Group* end = g + plan.groupCount;
  while (g != end) {
    if (g->mode == kGroupBytes) {
      if (g + 1 != end && g[1].mode == kGroupBytes && g[1].firstColumn == g->firstColumn + 8) {
        BytesTwoGroups(g[0], g[1], row, dst);
        g += 2;
        continue;
      }
      BytesOneGroup(*g, row, dst);
    } else if (g->mode == kGroupWords) {
      WordsOneGroup(*g, row, dst);
    } else {
      HorizontalColumns(plan, row, dst, g->firstColumn, g->firstColumn + 8);
    }
    ++g;
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

// With every coefficient in 8 bits, one multiply-add of interleaved rows
// gives the saturated pair sum that 16-bit lanes give.
inline void VerticalBytes32(const std::uint8_t* const rows[4], __m256i c01, __m256i c23,
                            std::uint8_t* dst, int x) {
  const __m256i r0 = _mm256_loadu_si256(At(rows[0] + x)), r1 = _mm256_loadu_si256(At(rows[1] + x));
  const __m256i r2 = _mm256_loadu_si256(At(rows[2] + x)), r3 = _mm256_loadu_si256(At(rows[3] + x));
  const __m256i lo = _mm256_adds_epi16(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(r0, r1), c01),
                                       _mm256_maddubs_epi16(_mm256_unpacklo_epi8(r2, r3), c23));
  const __m256i hi = _mm256_adds_epi16(_mm256_maddubs_epi16(_mm256_unpackhi_epi8(r0, r1), c01),
                                       _mm256_maddubs_epi16(_mm256_unpackhi_epi8(r2, r3), c23));
  const __m256i out = _mm256_packus_epi16(_mm256_srai_epi16(lo, 7), _mm256_srai_epi16(hi, 7));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), out);
}

inline __m256i BytePair(std::int16_t a, std::int16_t b) {
  return _mm256_set1_epi16(static_cast<std::int16_t>((a & 0xFF) | ((b & 0xFF) << 8)));
}

void VerticalRow(const std::uint8_t* const rows[4], const std::int16_t* coef, std::uint8_t* dst,
                 int width) {
  const int lanes = width & ~3;
  int x = 0;
  if (lanes >= 32 && FitsBytes(coef)) {
    const __m256i c01 = BytePair(coef[0], coef[1]), c23 = BytePair(coef[2], coef[3]);
    for (; x + 32 <= lanes; x += 32) VerticalBytes32(rows, c01, c23, dst, x);
    if (x < lanes) VerticalBytes32(rows, c01, c23, dst, lanes - 32);  // overlaps the block before
    x = lanes;
  } else if (lanes >= 16) {
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
