// The plain scaler: one sample at a time, step by step, the ring
// of 20 line slots with its 4 mirror slots included. It is kept as the
// yardstick that every fast path must match byte for byte.
#include <cstring>

#include "media/scaler_kernels.h"

namespace scaler_detail {

namespace {

// Source row `row` filtered horizontally into dstWidth bytes.
void FilterRowHorizontally(const ScalerContext& ctx, const std::uint8_t* row,
                           std::int32_t srcWidth, std::uint8_t* out, std::int32_t dstWidth) {
  const std::int16_t(*table)[4] = cubicFilterTables[ctx.horizontalTable_];
  std::int32_t pos = -65536;
  for (std::int32_t x = 0; x < dstWidth; ++x, pos += ctx.horizontalStep_) {
    const std::int32_t i = pos >> 16;
    const std::int16_t* c = table[(pos >> 12) & 15];
    std::int32_t sum = 0;
    for (int k = 0; k < 4; ++k) {
      std::int32_t at = i + k;
      at = at < 0 ? 0 : (at > srcWidth - 1 ? srcWidth - 1 : at);
      sum += c[k] * row[at];
    }
    out[x] = ClampByte(sum >> 7);
  }
}

// Four consecutive ring slots filtered vertically into one output row.
void FilterColumnsVertically(const std::uint8_t* slots, std::int32_t width,
                             const std::int16_t* c, std::uint8_t* out) {
  const std::uint8_t* r0 = slots;
  const std::uint8_t* r1 = r0 + width;
  const std::uint8_t* r2 = r1 + width;
  const std::uint8_t* r3 = r2 + width;
  const std::int32_t lanes = width & ~3;  // four at a time in 16-bit lanes
  for (std::int32_t x = 0; x < lanes; ++x) out[x] = VerticalLanes16(c, r0[x], r1[x], r2[x], r3[x]);
  for (std::int32_t x = lanes; x < width; ++x) out[x] = VerticalExact(c, r0[x], r1[x], r2[x], r3[x]);
}

}  // namespace

void ReferenceScalePlane(ScalerContext* ctx, std::uint8_t* dst, std::int32_t dstStride,
                         std::int32_t dstWidth, std::int32_t dstHeight, const std::uint8_t* src,
                         std::int32_t srcStride, std::int32_t srcWidth, std::int32_t srcHeight) {
  // An empty plane (a source one pixel wide or high has no chroma) has nothing
  // to read; an output wider than a slot cannot be ringed.
  if (dstHeight < 1 || dstWidth < 1 || srcWidth < 1 || srcHeight < 1) return;
  if (dstWidth > kScalerMaxLineWidth) return;

  std::uint8_t* ring = ctx->lineRing_;
  const std::int16_t(*vtable)[4] = cubicFilterTables[ctx->verticalTable_];
  // Live slots are 4..19; slots 0..3 mirror 16..19, so the four slots that
  // end at any live slot lie one after another.
  int slot = 4;
  std::int32_t lastRow = -2;
  std::int32_t y = 2 * 65536;
  for (std::int32_t r = 0; r < dstHeight; ++r) {
    while (lastRow < (y >> 16)) {
      ++lastRow;
      slot = (slot + 1 == kScalerRingSlots) ? 4 : slot + 1;
      std::int32_t from = lastRow < 0 ? 0 : (lastRow > srcHeight - 1 ? srcHeight - 1 : lastRow);
      std::uint8_t* line = ring + static_cast<std::ptrdiff_t>(slot) * dstWidth;
      FilterRowHorizontally(*ctx, src + static_cast<std::ptrdiff_t>(from) * srcStride, srcWidth,
                            line, dstWidth);
      if (slot >= 16) std::memcpy(ring + static_cast<std::ptrdiff_t>(slot - 16) * dstWidth, line, dstWidth);
    }
    FilterColumnsVertically(ring + static_cast<std::ptrdiff_t>(slot - 3) * dstWidth, dstWidth,
                            vtable[(y >> 12) & 15], dst + static_cast<std::ptrdiff_t>(r) * dstStride);
    y += ctx->verticalStep_;
  }
}

}  // namespace scaler_detail
