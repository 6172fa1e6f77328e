// The scaler's entry points: the context, the choice of code path, and the
// per-call set-up of ScaleI420 that every path shares.
#include "media/scaler.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "media/scaler_kernels.h"

using namespace scaler_detail;

namespace scaler_detail {
void FastRgb24ToI420(const RowKernels& k, const std::uint8_t* src, std::uint8_t* dstY,
                     std::uint8_t* dstU, std::uint8_t* dstV, std::int32_t width,
                     std::int32_t height, std::int32_t strideY, std::int32_t strideUV,
                     std::int32_t srcStride, bool flip);
void FastScalePlane(const RowKernels& k, PixelPath path, ScalerContext* ctx, std::uint8_t* dst,
                    std::int32_t dstStride, std::int32_t dstWidth, std::int32_t dstHeight,
                    const std::uint8_t* src, std::int32_t srcStride, std::int32_t srcWidth,
                    std::int32_t srcHeight);
}  // namespace scaler_detail

ScalerContext::ScalerContext()
    : lineRing_(static_cast<std::uint8_t*>(std::malloc(kScalerRingBytes))),
      plans_(NewColumnPlans()) {}

ScalerContext::~ScalerContext() {
  DeleteColumnPlans(plans_);
  std::free(lineRing_);
}

// ---- code paths ----

bool PixelPathAvailable(PixelPath path) {
  switch (path) {
    case PixelPath::Reference:
      return true;
#if defined(TANDEO_SCALER_X86)
    case PixelPath::Sse2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("sse2");
    case PixelPath::Avx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
    case PixelPath::Avx512:
      // Byte permutes (VBMI) and 512-bit byte and word arithmetic (BW), with
      // their 256-bit forms (VL).
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
#else
    default:
      return false;
#endif
  }
  return false;
}

PixelPath DefaultPixelPath() {
  static const PixelPath chosen = [] {
    if (PixelPathAvailable(PixelPath::Avx512)) return PixelPath::Avx512;
    if (PixelPathAvailable(PixelPath::Avx2)) return PixelPath::Avx2;
    if (PixelPathAvailable(PixelPath::Sse2)) return PixelPath::Sse2;
    return PixelPath::Reference;
  }();
  return chosen;
}

const char* PixelPathName(PixelPath path) {
  switch (path) {
    case PixelPath::Reference: return "reference";
    case PixelPath::Sse2: return "sse2";
    case PixelPath::Avx2: return "avx2";
    case PixelPath::Avx512: return "avx512";
  }
  return "?";
}

namespace {

PixelPath Runnable(PixelPath path) {
  return PixelPathAvailable(path) ? path : DefaultPixelPath();
}

const RowKernels* KernelsOf(PixelPath path) {
#if defined(TANDEO_SCALER_X86)
  if (path == PixelPath::Sse2) return &kSse2Kernels;
  if (path == PixelPath::Avx2) return &kAvx2Kernels;
  if (path == PixelPath::Avx512) return &kAvx512Kernels;
#else
  (void)path;
#endif
  return nullptr;
}

// Filter table for scaling `src` samples to `dst`: 20 * dst / src rounded half
// up, capped at 20 (no low-pass for equal size and upscales). A source more
// than 40 times larger would round to table 0, all zeros, and give a black
// picture; table 1, the widest real filter, serves it instead.
std::int32_t TableIndex(std::int32_t src, std::int32_t dst) {
  std::int64_t i = (static_cast<std::int64_t>(src) + 40LL * dst) / (2LL * src);
  if (i > 20) i = 20;
  if (i < 1) i = 1;
  return static_cast<std::int32_t>(i);
}

void CopyRows(std::uint8_t* dst, std::int32_t dstStride, const std::uint8_t* src,
              std::int32_t srcStride, std::int32_t bytes, std::int32_t rows) {
  if (bytes <= 0) return;
  for (std::int32_t r = 0; r < rows; ++r)
    std::memcpy(dst + static_cast<std::ptrdiff_t>(r) * dstStride,
                src + static_cast<std::ptrdiff_t>(r) * srcStride, bytes);
}

}  // namespace

void Rgb24ToI420On(PixelPath path, const std::uint8_t* src, std::uint8_t* dstY,
                   std::uint8_t* dstU, std::uint8_t* dstV, std::int32_t width,
                   std::int32_t height, std::int32_t strideY, std::int32_t strideUV,
                   std::int32_t srcStride, bool flip) {
  const RowKernels* k = KernelsOf(Runnable(path));
  if (k)
    FastRgb24ToI420(*k, src, dstY, dstU, dstV, width, height, strideY, strideUV, srcStride, flip);
  else
    ReferenceRgb24ToI420(src, dstY, dstU, dstV, width, height, strideY, strideUV, srcStride, flip);
}

void ScalePlaneOn(PixelPath path, ScalerContext* ctx, std::uint8_t* dst, std::int32_t dstStride,
                  std::int32_t dstWidth, std::int32_t dstHeight, const std::uint8_t* src,
                  std::int32_t srcStride, std::int32_t srcWidth, std::int32_t srcHeight) {
  if (!ctx || !ctx->usable() || !dst || !src) return;
  if (ctx->horizontalTable_ < 0 || ctx->horizontalTable_ > 20 || ctx->verticalTable_ < 0 ||
      ctx->verticalTable_ > 20)
    return;  // a context that no ScaleI420 call has set up
  if (srcWidth > kScalerMaxSourceSize || srcHeight > kScalerMaxSourceSize) return;
  // Source positions run up to size x step (rows from 2 on): they must fit
  // 32 bits. Within the size limits, steps that ScaleI420 sets always do.
  if (ctx->horizontalStep_ < 0 || ctx->verticalStep_ < 0 ||
      static_cast<std::int64_t>(dstWidth) * ctx->horizontalStep_ > INT32_MAX ||
      static_cast<std::int64_t>(dstHeight) * ctx->verticalStep_ + 2 * 65536 > INT32_MAX)
    return;
  path = Runnable(path);
  const RowKernels* k = KernelsOf(path);
  if (k)
    FastScalePlane(*k, path, ctx, dst, dstStride, dstWidth, dstHeight, src, srcStride, srcWidth,
                   srcHeight);
  else
    ReferenceScalePlane(ctx, dst, dstStride, dstWidth, dstHeight, src, srcStride, srcWidth,
                        srcHeight);
}

void ScaleI420On(PixelPath path, ScalerContext* ctx, std::int32_t srcWidth,
                 std::int32_t srcHeight, std::int32_t srcStrideY, std::int32_t srcStrideUV,
                 const std::uint8_t* srcY, const std::uint8_t* srcU, const std::uint8_t* srcV,
                 std::int32_t dstWidth, std::int32_t dstHeight, std::int32_t dstStrideY,
                 std::int32_t dstStrideUV, std::uint8_t* dstY, std::uint8_t* dstU,
                 std::uint8_t* dstV) {
  if (!ctx || !ctx->usable() || srcWidth < 1 || srcHeight < 1 || dstWidth < 1 || dstHeight < 1)
    return;
  if (srcWidth > kScalerMaxSourceSize || srcHeight > kScalerMaxSourceSize ||
      dstWidth > kScalerMaxLineWidth || dstHeight > kScalerMaxSourceSize)
    return;

  ctx->rowOrigin_ = 0;
  ctx->columnOrigin_ = 0;
  ctx->outputWidth_ = dstWidth & ~1;
  ctx->outputHeight_ = dstHeight & ~1;
  ctx->horizontalStep_ = (srcWidth << 16) / dstWidth;
  ctx->verticalStep_ = (srcHeight << 16) / dstHeight;
  ctx->horizontalTable_ = TableIndex(srcWidth, dstWidth);
  ctx->verticalTable_ = TableIndex(srcHeight, dstHeight);

  if (srcWidth == dstWidth && srcHeight == dstHeight) {
    // Equal sizes: a plain copy, no filtering.
    if (srcY && dstY) CopyRows(dstY, dstStrideY, srcY, srcStrideY, dstWidth & ~1, srcHeight);
    if (srcU && dstU) CopyRows(dstU, dstStrideUV, srcU, srcStrideUV, srcWidth / 2, srcHeight / 2);
    if (srcV && dstV) CopyRows(dstV, dstStrideUV, srcV, srcStrideUV, srcWidth / 2, srcHeight / 2);
    return;
  }
  const std::int32_t w = ctx->outputWidth_, h = ctx->outputHeight_;
  if (srcY && dstY)
    ScalePlaneOn(path, ctx, dstY, dstStrideY, w, h, srcY, srcStrideY, srcWidth, srcHeight);
  if (srcU && dstU)
    ScalePlaneOn(path, ctx, dstU, dstStrideUV, w / 2, h / 2, srcU, srcStrideUV, srcWidth / 2,
                 srcHeight / 2);
  if (srcV && dstV)
    ScalePlaneOn(path, ctx, dstV, dstStrideUV, w / 2, h / 2, srcV, srcStrideUV, srcWidth / 2,
                 srcHeight / 2);
}

// ---- the public functions run the default path ----

void Rgb24ToI420(const std::uint8_t* src, std::uint8_t* dstY, std::uint8_t* dstU,
                 std::uint8_t* dstV, std::int32_t width, std::int32_t height,
                 std::int32_t strideY, std::int32_t strideUV, std::int32_t srcStride, bool flip) {
  Rgb24ToI420On(DefaultPixelPath(), src, dstY, dstU, dstV, width, height, strideY, strideUV,
                srcStride, flip);
}

void ScaleI420(ScalerContext* ctx, std::int32_t srcWidth, std::int32_t srcHeight,
               std::int32_t srcStrideY, std::int32_t srcStrideUV, const std::uint8_t* srcY,
               const std::uint8_t* srcU, const std::uint8_t* srcV, std::int32_t dstWidth,
               std::int32_t dstHeight, std::int32_t dstStrideY, std::int32_t dstStrideUV,
               std::uint8_t* dstY, std::uint8_t* dstU, std::uint8_t* dstV) {
  ScaleI420On(DefaultPixelPath(), ctx, srcWidth, srcHeight, srcStrideY, srcStrideUV, srcY, srcU,
              srcV, dstWidth, dstHeight, dstStrideY, dstStrideUV, dstY, dstU, dstV);
}

void ScalePlane(ScalerContext* ctx, std::uint8_t* dst, std::int32_t dstStride,
                std::int32_t dstWidth, std::int32_t dstHeight, const std::uint8_t* src,
                std::int32_t srcStride, std::int32_t srcWidth, std::int32_t srcHeight) {
  ScalePlaneOn(DefaultPixelPath(), ctx, dst, dstStride, dstWidth, dstHeight, src, srcStride,
               srcWidth, srcHeight);
}
