// The plain colour conversion: one pixel at a time, formula by formula. It
// is kept as the yardstick that every fast path must match.
//
// Every column is converted, also those after the last whole group of 8
// pixels, so that no column of the picture keeps a stale value.
#include "media/scaler_kernels.h"

namespace scaler_detail {

void ReferenceRgb24ToI420(const std::uint8_t* src, std::uint8_t* dstY, std::uint8_t* dstU,
                          std::uint8_t* dstV, std::int32_t width, std::int32_t height,
                          std::int32_t strideY, std::int32_t strideUV, std::int32_t srcStride,
                          bool flip) {
  if (height <= 0 || width <= 0 || !src || !dstY) return;
  const std::int32_t rowPairs = ((height - 1) >> 1) + 1;
  // With flip the stored rows are bottom-up: output row r is stored row height - 1 - r.
  auto sourceRow = [&](std::int32_t r) {
    return src + static_cast<std::ptrdiff_t>(flip ? height - 1 - r : r) * srcStride;
  };

  for (std::int32_t j = 0; j < rowPairs; ++j) {
    const int rowsInPair = (2 * j + 1 < height) ? 2 : 1;  // an odd height ends with one row
    for (int k = 0; k < rowsInPair; ++k) {
      const std::uint8_t* row = sourceRow(2 * j + k);
      std::uint8_t* y = dstY + static_cast<std::ptrdiff_t>(2 * j + k) * strideY;
      for (std::int32_t x = 0; x < width; ++x) {
        const std::uint8_t* p = row + 3 * x;
        y[x] = LumaOf(p[0], p[1], p[2]);
      }
    }
    if (!dstU || !dstV) continue;  // luma only
    // Chroma from the first row of the pair only, each sample from two
    // neighbouring pixels averaged with rounding up.
    const std::uint8_t* first = sourceRow(2 * j);
    std::uint8_t* u = dstU + static_cast<std::ptrdiff_t>(j) * strideUV;
    std::uint8_t* v = dstV + static_cast<std::ptrdiff_t>(j) * strideUV;
    for (std::int32_t m = 0; m < width / 2; ++m) {
      const std::uint8_t* p = first + 6 * m;
      const int b = (p[0] + p[3] + 1) >> 1;
      const int g = (p[1] + p[4] + 1) >> 1;
      const int r = (p[2] + p[5] + 1) >> 1;
      u[m] = ChromaUOf(b, g, r);
      v[m] = ChromaVOf(b, g, r);
    }
  }
}

}  // namespace scaler_detail
