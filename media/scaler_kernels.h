// Internal to the scaler: the per-pixel formulas shared by every code path,
// the column plans of the fast path, and the row kernels that each
// instruction set provides.
#pragma once
#include <cstdint>

#include "media/scaler.h"

namespace scaler_detail {

// ---- per-pixel formulas (7-bit fixed point) ----

static inline std::uint8_t LumaOf(int b, int g, int r) {
  int y = ((13 * b + 65 * g + 33 * r) >> 7) + 16;
  return static_cast<std::uint8_t>(y > 255 ? 255 : y);
}

static inline int ClampSigned8(int v) { return v < -128 ? -128 : (v > 127 ? 127 : v); }

// b, g, r are the rounded-up averages of two neighbouring pixels.
static inline std::uint8_t ChromaUOf(int b, int g, int r) {
  return static_cast<std::uint8_t>(ClampSigned8((56 * b - 36 * g - 18 * r) >> 7) + 128);
}
static inline std::uint8_t ChromaVOf(int b, int g, int r) {
  return static_cast<std::uint8_t>(ClampSigned8((-8 * b - 46 * g + 56 * r) >> 7) + 128);
}

static inline std::uint8_t ClampByte(std::int32_t v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

static inline std::int32_t Saturate16(std::int32_t v) {
  return v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
}

// The vertical filter of one column as 16-bit lanes compute it: products
// keep their low 16 bits, the pair sums and the total saturate.
static inline std::uint8_t VerticalLanes16(const std::int16_t* c, int r0, int r1, int r2, int r3) {
  std::int32_t p0 = static_cast<std::int16_t>(static_cast<std::uint16_t>(c[0] * r0));
  std::int32_t p1 = static_cast<std::int16_t>(static_cast<std::uint16_t>(c[1] * r1));
  std::int32_t p2 = static_cast<std::int16_t>(static_cast<std::uint16_t>(c[2] * r2));
  std::int32_t p3 = static_cast<std::int16_t>(static_cast<std::uint16_t>(c[3] * r3));
  std::int32_t s = Saturate16(Saturate16(p0 + p1) + Saturate16(p2 + p3));
  return ClampByte(s >> 7);
}

// The vertical filter of one of the last (width % 4) columns: exact sum.
static inline std::uint8_t VerticalExact(const std::int16_t* c, int r0, int r1, int r2, int r3) {
  return ClampByte((c[0] * r0 + c[1] * r1 + c[2] * r2 + c[3] * r3) >> 7);
}

// Whether four coefficients fit signed 8-bit multiply-adds.
static inline bool FitsBytes(const std::int16_t* c) {
  for (int k = 0; k < 4; ++k)
    if (c[k] < -128 || c[k] > 127) return false;
  return true;
}

// ---- reference implementation ----

void ReferenceRgb24ToI420(const std::uint8_t* src, std::uint8_t* dstY, std::uint8_t* dstU,
                          std::uint8_t* dstV, std::int32_t width, std::int32_t height,
                          std::int32_t strideY, std::int32_t strideUV, std::int32_t srcStride,
                          bool flip);
void ReferenceScalePlane(ScalerContext* context, std::uint8_t* dst, std::int32_t dstStride,
                         std::int32_t dstWidth, std::int32_t dstHeight, const std::uint8_t* src,
                         std::int32_t srcStride, std::int32_t srcWidth, std::int32_t srcHeight);

// ---- column plans of the fast path ----

// One group of 8 output columns as the AVX2 horizontal kernel takes it.
enum Avx2GroupMode : std::int32_t {
  kGroupScalar = 0,  // column by column
  kGroupBytes = 1,   // 8-bit taps times 8-bit coefficients (the common case)
  kGroupWords = 2,   // 16-bit taps, for coefficients that do not fit in 8 bits
};
struct alignas(32) Avx2Group {
  std::int32_t firstColumn;  // output column of the group's first column
  std::int32_t mode;         // Avx2GroupMode
  // kGroupBytes: each 128-bit lane holds four columns, read from one 16-byte
  // window of the source row and spread into four taps each by a byte shuffle.
  std::int32_t byteWindow[2];
  std::int32_t unused[4];
  std::uint8_t byteMask[32];
  std::int8_t byteCoef[32];
  // kGroupWords: four pairs of columns, each pair from its own 16-byte window,
  // spread into 16-bit taps (mask byte 0x80 gives the zero high byte).
  std::uint8_t wordMask[4][16];
  std::int16_t wordCoef[4][8];
  std::int32_t wordWindow[4];
  std::int32_t unused2[4];
};

// One group of 16 output columns as the AVX2 pair kernel takes it: each
// 128-bit lane holds eight columns, taps 0 and 1 of each in one register and
// taps 2 and 3 in another, shuffled out of one 16-byte window of the row.
struct alignas(32) Avx2PairGroup {
  std::int32_t firstColumn;
  std::int32_t window[2];
  std::int32_t unused[5];
  std::uint8_t mask[2][32];  // window byte of each tap
  std::int8_t coef[2][32];
};

// One group of 32 output columns as the AVX-512 horizontal kernel takes it:
// taps 0 and 1 of every column, and taps 2 and 3, permuted out of two 64-byte
// windows of the source row.
struct alignas(64) Avx512Group {
  std::int32_t firstColumn;
  std::int32_t window[2];
  std::int32_t simd;  // 0: done column by column
  std::int32_t unused[12];
  std::uint8_t index[2][64];  // byte of each tap in the windows (64 and up: the second)
  std::int8_t coef[2][64];
};

// Everything the fast path needs to filter rows of one plane size.
struct ColumnPlan {
  // What the plan was built for.
  std::int32_t srcWidth = -1, dstWidth = -1, step = 0, table = -1;
  PixelPath path = PixelPath::Reference;
  std::uint32_t lastUse = 0;
  // Per output column: the first of four consecutive source bytes and the
  // coefficients folded so that edge clamping needs no branch. Valid when the
  // source is at least 4 wide (folded != 0).
  std::int32_t folded = 0;
  std::int32_t* first = nullptr;  // kScalerMaxLineWidth entries
  std::int16_t* coef = nullptr;   // 4 * kScalerMaxLineWidth entries
  // Groups of 8 columns (AVX2): 0, 8, 16, ... and a last one ending at dstWidth.
  std::int32_t groupCount = 0;
  Avx2Group* groups = nullptr;    // kScalerMaxLineWidth / 8 + 1 entries
  // Groups of 16 columns (AVX2), laid out the same way; when there are any,
  // they serve the whole row instead of the groups of 8.
  std::int32_t pairGroupCount = 0;
  Avx2PairGroup* pairGroups = nullptr;  // kScalerMaxLineWidth / 16 + 1 entries
  // Groups of 32 columns (AVX-512), laid out the same way; none when the
  // rows are better left to the AVX2 kernel.
  std::int32_t wideGroupCount = 0;
  Avx512Group* wideGroups = nullptr;  // kScalerMaxLineWidth / 32 + 1 entries
};

// Two plans, so that the luma and chroma sizes of one picture both stay built.
struct ColumnPlans {
  ColumnPlan plan[2];
  std::uint32_t uses = 0;
};

ColumnPlans* NewColumnPlans();
void DeleteColumnPlans(ColumnPlans* plans);

// The plan for this plane size on this path, built if needed (no allocation).
const ColumnPlan& PlanFor(ColumnPlans* plans, PixelPath path, std::int32_t srcWidth,
                          std::int32_t dstWidth, std::int32_t step, std::int32_t table);

// Output column x of one row, with the plan's folded coefficients.
static inline std::uint8_t FoldedColumn(const ColumnPlan& plan, const std::uint8_t* row, int x) {
  const std::uint8_t* p = row + plan.first[x];
  const std::int16_t* c = plan.coef + 4 * x;
  return ClampByte((c[0] * p[0] + c[1] * p[1] + c[2] * p[2] + c[3] * p[3]) >> 7);
}

// ---- row kernels of one instruction set ----

struct RowKernels {
  // Luma of one row; with u and v non-null also the chroma of the row.
  void (*convertRow)(const std::uint8_t* src, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v,
                     int width);
  // One source row into plan.dstWidth bytes.
  void (*horizontalRow)(const ColumnPlan& plan, const std::uint8_t* src, std::uint8_t* dst);
  // Four rows into one: 16-bit lanes for columns below (width & ~3), exact after.
  void (*verticalRow)(const std::uint8_t* const rows[4], const std::int16_t* coef,
                      std::uint8_t* dst, int width);
};

extern const RowKernels kSse2Kernels;
extern const RowKernels kAvx2Kernels;
extern const RowKernels kAvx512Kernels;

// Scalar pieces the kernels use for what their vectors do not cover.
void ConvertPixels(const std::uint8_t* src, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v,
                   int from, int width);
void VerticalColumns(const std::uint8_t* const rows[4], const std::int16_t* coef,
                     std::uint8_t* dst, int from, int width);
void HorizontalColumns(const ColumnPlan& plan, const std::uint8_t* row, std::uint8_t* dst,
                       int from, int to);

// Row kernels of each instruction set (defined in their own files).
void Sse2ConvertRow(const std::uint8_t* src, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v,
                    int width);
void Avx2ConvertRow(const std::uint8_t* src, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v,
                    int width);
void Avx512ConvertRow(const std::uint8_t* src, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v,
                      int width);

}  // namespace scaler_detail
