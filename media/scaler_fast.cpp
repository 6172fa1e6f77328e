// The fast scaler's shared part: column plans, the row loop, and the scalar
// pieces for what the vector kernels leave over. The kernels themselves live
// in one file per instruction set, each compiled with its own flags.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "media/scaler_kernels.h"

namespace scaler_detail {

// ---- column plans ----

namespace {

// The vector kernels' tables, at their types' alignment (aligned operator
// new: the C library's aligned_alloc is not everywhere).
template <typename T>
T* NewAligned(std::size_t count) {
  return static_cast<T*>(::operator new(sizeof(T) * count, std::align_val_t(alignof(T)), std::nothrow));
}

template <typename T>
void DeleteAligned(T* p) {
  if (p) ::operator delete(p, std::align_val_t(alignof(T)));
}

}  // namespace

ColumnPlans* NewColumnPlans() {
  auto* plans = new (std::nothrow) ColumnPlans;
  if (!plans) return nullptr;
  for (ColumnPlan& p : plans->plan) {
    p.first = static_cast<std::int32_t*>(std::malloc(sizeof(std::int32_t) * kScalerMaxLineWidth));
    p.coef = static_cast<std::int16_t*>(std::malloc(sizeof(std::int16_t) * 4 * kScalerMaxLineWidth));
    p.groups = NewAligned<Avx2Group>(kScalerMaxLineWidth / 8 + 1);
    p.pairGroups = NewAligned<Avx2PairGroup>(kScalerMaxLineWidth / 16 + 1);
    p.wideGroups = NewAligned<Avx512Group>(kScalerMaxLineWidth / 32 + 1);
    if (!p.first || !p.coef || !p.groups || !p.pairGroups || !p.wideGroups) {
      DeleteColumnPlans(plans);
      return nullptr;
    }
  }
  return plans;
}

void DeleteColumnPlans(ColumnPlans* plans) {
  if (!plans) return;
  for (ColumnPlan& p : plans->plan) {
    std::free(p.first);
    std::free(p.coef);
    DeleteAligned(p.groups);
    DeleteAligned(p.pairGroups);
    DeleteAligned(p.wideGroups);
  }
  delete plans;
}

namespace {

inline std::int32_t Clamp(std::int32_t v, std::int32_t lo, std::int32_t hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

// Per column: the first of four consecutive source bytes and the four
// coefficients folded onto them, so that taps clamped at the row's ends add
// into the edge bytes. The sum is the same, term for term.
void BuildColumns(ColumnPlan& plan) {
  const std::int16_t(*table)[4] = cubicFilterTables[plan.table];
  plan.folded = plan.srcWidth >= 4;
  if (!plan.folded) return;
  std::int32_t pos = -65536;
  for (std::int32_t x = 0; x < plan.dstWidth; ++x, pos += plan.step) {
    const std::int32_t i = pos >> 16;
    const std::int16_t* c = table[(pos >> 12) & 15];
    const std::int32_t first = Clamp(i, 0, plan.srcWidth - 4);
    std::int16_t* folded = plan.coef + 4 * x;
    folded[0] = folded[1] = folded[2] = folded[3] = 0;
    for (int k = 0; k < 4; ++k) folded[Clamp(i + k, 0, plan.srcWidth - 1) - first] += c[k];
    plan.first[x] = first;
  }
}

// Four coefficients for the byte kernels, which multiply-add tap pairs 0 + 1
// and 2 + 3 with 16-bit saturation and then add the two pairs, saturating
// again. A saturated total clamps to 0 or 255 as the exact sum does, so only
// a saturated pair could change a result: each coefficient must fit 8 bits and
// each pair's positive and negative weights stay within 128.
bool PairsFitBytes(const std::int16_t* c) {
  if (!FitsBytes(c)) return false;
  for (int pair = 0; pair < 4; pair += 2) {
    int positive = 0, negative = 0;
    for (int t = pair; t < pair + 2; ++t) (c[t] > 0 ? positive : negative) += c[t];
    if (positive > 128 || negative < -128) return false;
  }
  return true;
}

// A 16-byte window of the source row that starts at `first`, or earlier near
// the row's end so that nothing past the row is read.
inline std::int32_t WindowAt(const ColumnPlan& plan, std::int32_t first) {
  return first < plan.srcWidth - 16 ? first : plan.srcWidth - 16;
}

// Columns x .. x + 3 from one window, with 8-bit coefficients.
bool FillByteLane(const ColumnPlan& plan, Avx2Group& g, int lane, std::int32_t x) {
  const std::int32_t window = WindowAt(plan, plan.first[x]);
  if (plan.first[x + 3] + 3 - window > 15) return false;
  for (int j = 0; j < 4; ++j) {
    const std::int16_t* c = plan.coef + 4 * (x + j);
    if (!PairsFitBytes(c)) return false;
    for (int t = 0; t < 4; ++t) {
      g.byteMask[16 * lane + 4 * j + t] = static_cast<std::uint8_t>(plan.first[x + j] - window + t);
      g.byteCoef[16 * lane + 4 * j + t] = static_cast<std::int8_t>(c[t]);
    }
  }
  g.byteWindow[lane] = window;
  return true;
}

// Columns as four pairs with 16-bit taps and coefficients. Record r holds the
// column pair kPairOf[r], so that the kernel's pairwise adds leave the eight
// results in order.
bool FillWordPairs(const ColumnPlan& plan, Avx2Group& g) {
  static const int kPairOf[4] = {0, 2, 1, 3};
  for (int r = 0; r < 4; ++r) {
    const std::int32_t a = g.firstColumn + 2 * kPairOf[r], b = a + 1;
    const std::int32_t window = WindowAt(plan, plan.first[a]);
    if (plan.first[b] + 3 - window > 15) return false;  // taps too far apart
    g.wordWindow[r] = window;
    for (int t = 0; t < 4; ++t) {
      g.wordMask[r][2 * t] = static_cast<std::uint8_t>(plan.first[a] - window + t);
      g.wordMask[r][2 * t + 1] = 0x80;
      g.wordMask[r][8 + 2 * t] = static_cast<std::uint8_t>(plan.first[b] - window + t);
      g.wordMask[r][8 + 2 * t + 1] = 0x80;
      g.wordCoef[r][t] = plan.coef[4 * a + t];
      g.wordCoef[r][4 + t] = plan.coef[4 * b + t];
    }
  }
  return true;
}

// Groups of 8 columns for the AVX2 kernel: 0, 8, 16, ... and a last one that
// ends at the row's end, overlapping the one before.
void BuildAvx2Groups(ColumnPlan& plan) {
  plan.groupCount = 0;
  if (plan.dstWidth < 8) return;
  const bool windows = plan.folded && plan.srcWidth >= 16;
  for (std::int32_t start = 0; start < plan.dstWidth; start += 8) {
    Avx2Group& g = plan.groups[plan.groupCount++];
    g.firstColumn = start + 8 <= plan.dstWidth ? start : plan.dstWidth - 8;
    g.mode = kGroupScalar;
    if (!windows) continue;
    if (FillByteLane(plan, g, 0, g.firstColumn) && FillByteLane(plan, g, 1, g.firstColumn + 4))
      g.mode = kGroupBytes;
    else if (FillWordPairs(plan, g))
      g.mode = kGroupWords;
  }
}

// The four taps of column x for the byte-permuting kernels, which can read
// any byte of their windows: each tap reads its clamped source byte directly
// with the table's own coefficient, and a coefficient of 128 (which 8 bits
// cannot hold) is split over a tap of coefficient 0 that reads the same byte.
// False when the taps do not fit 8-bit multiply-adds.
bool ByteTaps(const ColumnPlan& plan, std::int32_t x, std::int32_t at[4], std::int16_t coef[4]) {
  const std::int32_t pos = x * plan.step - 65536;
  const std::int16_t* c = cubicFilterTables[plan.table][(pos >> 12) & 15];
  for (int k = 0; k < 4; ++k) {
    at[k] = Clamp((pos >> 16) + k, 0, plan.srcWidth - 1);
    coef[k] = c[k];
  }
  for (int k = 0; k < 4; ++k) {
    if (coef[k] <= 127) continue;
    const int spare = k == 1 ? 2 : 1;  // a tap in the other pair, to keep pairs light
    if (coef[spare] != 0) return false;
    coef[spare] = static_cast<std::int16_t>(coef[k] / 2);
    coef[k] = static_cast<std::int16_t>(coef[k] - coef[spare]);
    at[spare] = at[k];
  }
  return PairsFitBytes(coef);
}

// Groups of 16 columns for the AVX2 pair kernel: in each 128-bit lane, taps
// 0 and 1 and taps 2 and 3 of eight columns shuffled out of one 16-byte
// window. All groups fit, or the plan has none and the rows take the groups
// of 8 above.
bool FillPairGroup(const ColumnPlan& plan, Avx2PairGroup& g) {
  for (int lane = 0; lane < 2; ++lane) {
    std::int32_t at[8][4];
    std::int16_t coef[8][4];
    std::int32_t lowest = plan.srcWidth, highest = 0;
    for (int j = 0; j < 8; ++j) {
      if (!ByteTaps(plan, g.firstColumn + 8 * lane + j, at[j], coef[j])) return false;
      for (int k = 0; k < 4; ++k) {
        lowest = std::min(lowest, at[j][k]);
        highest = std::max(highest, at[j][k]);
      }
    }
    const std::int32_t window = std::min(lowest, plan.srcWidth - 16);
    if (highest >= window + 16) return false;
    g.window[lane] = window;
    for (int j = 0; j < 8; ++j)
      for (int k = 0; k < 4; ++k) {
        const int byte = 16 * lane + 2 * j + k % 2;
        g.mask[k / 2][byte] = static_cast<std::uint8_t>(at[j][k] - window);
        g.coef[k / 2][byte] = static_cast<std::int8_t>(coef[j][k]);
      }
  }
  return true;
}

void BuildAvx2PairGroups(ColumnPlan& plan) {
  plan.pairGroupCount = 0;
  if (plan.srcWidth < 16 || plan.dstWidth < 16) return;
  std::int32_t count = 0;
  for (std::int32_t start = 0; start < plan.dstWidth; start += 16) {
    Avx2PairGroup& g = plan.pairGroups[count++];
    g.firstColumn = start + 16 <= plan.dstWidth ? start : plan.dstWidth - 16;
    if (!FillPairGroup(plan, g)) return;
  }
  plan.pairGroupCount = count;
}

// Groups of 32 columns for the AVX-512 kernel, taps as ByteTaps gives them.
// A group that does not fit is done column by column; when more than two
// would be, the plan has no such groups and the rows go to the AVX2 kernel.
bool FillWideGroup(const ColumnPlan& plan, Avx512Group& g) {
  std::int32_t at[32][4];
  std::int16_t coef[32][4];
  for (int j = 0; j < 32; ++j)
    if (!ByteTaps(plan, g.firstColumn + j, at[j], coef[j])) return false;
  std::int32_t lowest = at[0][0], highest = at[31][3];
  for (int j = 0; j < 32; ++j)
    for (int k = 0; k < 4; ++k) {
      lowest = std::min(lowest, at[j][k]);
      highest = std::max(highest, at[j][k]);
    }
  // Two windows that end inside the row.
  g.window[0] = std::min(lowest, plan.srcWidth - 64);
  g.window[1] = std::min(g.window[0] + 64, plan.srcWidth - 64);
  if (highest >= g.window[1] + 64) return false;
  for (int j = 0; j < 32; ++j)
    for (int k = 0; k < 4; ++k) {
      const std::int32_t o = at[j][k];
      const std::int32_t index = o - g.window[0] < 64 ? o - g.window[0] : 64 + o - g.window[1];
      g.index[k / 2][2 * j + k % 2] = static_cast<std::uint8_t>(index);
      g.coef[k / 2][2 * j + k % 2] = static_cast<std::int8_t>(coef[j][k]);
    }
  return true;
}

void BuildAvx512Groups(ColumnPlan& plan) {
  plan.wideGroupCount = 0;
  if (plan.srcWidth < 64 || plan.dstWidth < 32) return;
  std::int32_t count = 0, narrow = 0;
  for (std::int32_t start = 0; start < plan.dstWidth; start += 32) {
    Avx512Group& g = plan.wideGroups[count++];
    g.firstColumn = start + 32 <= plan.dstWidth ? start : plan.dstWidth - 32;
    g.simd = FillWideGroup(plan, g);
    if (!g.simd && ++narrow > 2) return;
  }
  plan.wideGroupCount = count;
}

}  // namespace

const ColumnPlan& PlanFor(ColumnPlans* plans, PixelPath path, std::int32_t srcWidth,
                          std::int32_t dstWidth, std::int32_t step, std::int32_t table) {
  ++plans->uses;
  ColumnPlan* oldest = &plans->plan[0];
  for (ColumnPlan& p : plans->plan) {
    if (p.srcWidth == srcWidth && p.dstWidth == dstWidth && p.step == step && p.table == table &&
        p.path == path) {
      p.lastUse = plans->uses;
      return p;
    }
    if (p.lastUse < oldest->lastUse) oldest = &p;
  }
  ColumnPlan& p = *oldest;
  p.srcWidth = srcWidth;
  p.dstWidth = dstWidth;
  p.step = step;
  p.table = table;
  p.path = path;
  p.lastUse = plans->uses;
  BuildColumns(p);
  p.groupCount = 0;
  p.pairGroupCount = 0;
  p.wideGroupCount = 0;
  if (path == PixelPath::Avx2 || path == PixelPath::Avx512) {
    BuildAvx2Groups(p);
    BuildAvx2PairGroups(p);
  }
  // Where the AVX2 pair kernel fits, it is the faster one on AVX-512 CPUs too.
  if (path == PixelPath::Avx512 && p.pairGroupCount == 0) BuildAvx512Groups(p);
  return p;
}

// ---- scalar pieces ----

void VerticalColumns(const std::uint8_t* const rows[4], const std::int16_t* c, std::uint8_t* dst,
                     int from, int width) {
  const int lanes = width & ~3;
  int x = from;
  for (; x < lanes; ++x) dst[x] = VerticalLanes16(c, rows[0][x], rows[1][x], rows[2][x], rows[3][x]);
  for (; x < width; ++x) dst[x] = VerticalExact(c, rows[0][x], rows[1][x], rows[2][x], rows[3][x]);
}

void HorizontalColumns(const ColumnPlan& plan, const std::uint8_t* row, std::uint8_t* dst,
                       int from, int to) {
  if (plan.folded) {
    for (int x = from; x < to; ++x) dst[x] = FoldedColumn(plan, row, x);
    return;
  }
  // A source narrower than four bytes: clamp every tap.
  const std::int16_t(*table)[4] = cubicFilterTables[plan.table];
  for (int x = from; x < to; ++x) {
    const std::int32_t pos = x * plan.step - 65536;
    const std::int32_t i = pos >> 16;
    const std::int16_t* c = table[(pos >> 12) & 15];
    std::int32_t sum = 0;
    for (int k = 0; k < 4; ++k) sum += c[k] * row[Clamp(i + k, 0, plan.srcWidth - 1)];
    dst[x] = ClampByte(sum >> 7);
  }
}

// ---- row loops ----

void FastScalePlane(const RowKernels& k, PixelPath path, ScalerContext* ctx, std::uint8_t* dst,
                    std::int32_t dstStride, std::int32_t dstWidth, std::int32_t dstHeight,
                    const std::uint8_t* src, std::int32_t srcStride, std::int32_t srcWidth,
                    std::int32_t srcHeight) {
  if (dstHeight < 1 || dstWidth < 1 || srcWidth < 1 || srcHeight < 1) return;
  if (dstWidth > kScalerMaxLineWidth) return;

  const ColumnPlan& plan =
      PlanFor(ctx->plans_, path, srcWidth, dstWidth, ctx->horizontalStep_, ctx->horizontalTable_);
  const std::int16_t(*vtable)[4] = cubicFilterTables[ctx->verticalTable_];
  // Filtered rows go round 16 slots by their row number; the vertical pass
  // takes the four it needs by address, so no slot is mirrored.
  auto slotOf = [&](std::int32_t row) {
    return ctx->lineRing_ + static_cast<std::ptrdiff_t>((row + 16) & 15) * dstWidth;
  };
  std::int32_t lastRow = -2;
  std::int32_t y = 2 * 65536;
  for (std::int32_t r = 0; r < dstHeight; ++r) {
    const std::int32_t target = y >> 16;
    // Rows that no output row will read again are skipped, not filtered.
    if (target - lastRow > 4) lastRow = target - 4;
    while (lastRow < target) {
      ++lastRow;
      const std::int32_t from = Clamp(lastRow, 0, srcHeight - 1);
      k.horizontalRow(plan, src + static_cast<std::ptrdiff_t>(from) * srcStride, slotOf(lastRow));
    }
    const std::uint8_t* rows[4] = {slotOf(target - 3), slotOf(target - 2), slotOf(target - 1),
                                   slotOf(target)};
    k.verticalRow(rows, vtable[(y >> 12) & 15], dst + static_cast<std::ptrdiff_t>(r) * dstStride,
                  dstWidth);
    y += ctx->verticalStep_;
  }
}

}  // namespace scaler_detail
