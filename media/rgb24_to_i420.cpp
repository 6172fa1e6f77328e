// The fast colour conversion's row loop and its scalar tail; the row kernels
// live in one file per instruction set.
#include "media/scaler_kernels.h"

namespace scaler_detail {

void ConvertPixels(const std::uint8_t* src, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v,
                   int from, int width) {
  for (int x = from; x < width; ++x) {
    const std::uint8_t* p = src + 3 * x;
    y[x] = LumaOf(p[0], p[1], p[2]);
  }
  if (!u) return;
  for (int m = from / 2; m < width / 2; ++m) {
    const std::uint8_t* p = src + 6 * m;
    const int b = (p[0] + p[3] + 1) >> 1;
    const int g = (p[1] + p[4] + 1) >> 1;
    const int r = (p[2] + p[5] + 1) >> 1;
    u[m] = ChromaUOf(b, g, r);
    v[m] = ChromaVOf(b, g, r);
  }
}

void FastRgb24ToI420(const RowKernels& k, const std::uint8_t* src, std::uint8_t* dstY,
                     std::uint8_t* dstU, std::uint8_t* dstV, std::int32_t width,
                     std::int32_t height, std::int32_t strideY, std::int32_t strideUV,
                     std::int32_t srcStride, bool flip) {
  if (height <= 0 || width <= 0 || !src || !dstY) return;
  const bool chroma = dstU && dstV;
  // With flip the stored rows are bottom-up: output row r is stored row height - 1 - r.
  auto sourceRow = [&](std::int32_t r) {
    return src + static_cast<std::ptrdiff_t>(flip ? height - 1 - r : r) * srcStride;
  };
  for (std::int32_t i = 0; i < height; ++i) {
    // Bottom-up rows are read in the order they are stored: memory is walked
    // forwards, as the hardware's prefetch expects.
    const std::int32_t r = flip ? height - 1 - i : i;
    std::uint8_t* y = dstY + static_cast<std::ptrdiff_t>(r) * strideY;
    // Chroma from the first row of each pair only.
    if (chroma && r % 2 == 0)
      k.convertRow(sourceRow(r), y, dstU + static_cast<std::ptrdiff_t>(r / 2) * strideUV,
                   dstV + static_cast<std::ptrdiff_t>(r / 2) * strideUV, width);
    else
      k.convertRow(sourceRow(r), y, nullptr, nullptr, width);
  }
}

}  // namespace scaler_detail
