// Colour conversion of grabbed 24-bit pixels to I420 and the 4-tap cubic
// scaler that brings the I420 picture to the size the device asked for.
//
// Both routines work only on buffers that the caller owns and allocate
// nothing per call. The public functions run the fastest code path that the
// CPU supports; the ...On variants run a named path, so the tests can compare
// every path with the plain reference, byte for byte.
#pragma once
#include <cstdint>

// 21 cubic filters (index 0 to 20), 16 phases each, 4 signed taps per phase
// summing to 128 (table 0 is all zeros). Table i is the a = -0.5 cubic
// convolution kernel stretched by 20 / i, so lower indices low-pass harder.
extern const std::int16_t cubicFilterTables[21][16][4];

constexpr int kScalerRingSlots = 20;
constexpr int kScalerMaxLineWidth = 4096;
constexpr int kScalerRingBytes = kScalerRingSlots * kScalerMaxLineWidth;  // 81,920
// Source planes must stay below this size so that 16.16 positions fit in 32 bits.
constexpr int kScalerMaxSourceSize = 32000;

namespace scaler_detail {
struct ColumnPlans;
}

// Scaler state reused for every frame. The line ring and the column plans of
// the fast path are allocated once with the context and never per frame; if
// that allocation fails the context is not usable and scaling writes nothing.
class ScalerContext {
 public:
  ScalerContext();
  ~ScalerContext();
  ScalerContext(const ScalerContext&) = delete;
  ScalerContext& operator=(const ScalerContext&) = delete;
  bool usable() const { return lineRing_ != nullptr && plans_ != nullptr; }

  // Set anew by every ScaleI420 call from the luma sizes.
  std::int32_t rowOrigin_ = 0;
  std::int32_t columnOrigin_ = 0;
  std::int32_t outputWidth_ = 0;      // destination width, evened
  std::int32_t outputHeight_ = 0;     // destination height, evened
  std::int32_t horizontalStep_ = 0;   // 16.16 source columns per output column
  std::int32_t verticalStep_ = 0;     // 16.16 source rows per output row
  std::int32_t horizontalTable_ = 0;  // index into cubicFilterTables
  std::int32_t verticalTable_ = 0;
  // 20 line slots of up to 4,096 bytes.
  std::uint8_t* lineRing_ = nullptr;
  // Per-size column positions and folded coefficients of the fast path.
  scaler_detail::ColumnPlans* plans_ = nullptr;
};

// src points at the first stored row of 24-bit blue-green-red pixels, each
// row srcStride bytes after the previous one; with flip the stored rows are
// bottom-up and the last stored row becomes the first luma row. Writes
// width x height luma and (width / 2) x ((height + 1) / 2) chroma samples
// (no chroma when dstU or dstV is null).
void Rgb24ToI420(const std::uint8_t* src, std::uint8_t* dstY, std::uint8_t* dstU,
                 std::uint8_t* dstV, std::int32_t width, std::int32_t height,
                 std::int32_t strideY, std::int32_t strideUV, std::int32_t srcStride,
                 bool flip);

// Resamples an I420 picture. A plane is processed only when both its source
// and destination pointers are non-null. Sizes must be positive, the
// destination width at most 4,096 and the source sizes at most 32,767;
// a call outside those limits writes nothing.
void ScaleI420(ScalerContext* context, std::int32_t srcWidth, std::int32_t srcHeight,
               std::int32_t srcStrideY, std::int32_t srcStrideUV, const std::uint8_t* srcY,
               const std::uint8_t* srcU, const std::uint8_t* srcV, std::int32_t dstWidth,
               std::int32_t dstHeight, std::int32_t dstStrideY, std::int32_t dstStrideUV,
               std::uint8_t* dstY, std::uint8_t* dstU, std::uint8_t* dstV);

// One 8-bit plane with the context's steps and tables. An empty source or
// destination plane writes nothing.
void ScalePlane(ScalerContext* context, std::uint8_t* dst, std::int32_t dstStride,
                std::int32_t dstWidth, std::int32_t dstHeight, const std::uint8_t* src,
                std::int32_t srcStride, std::int32_t srcWidth, std::int32_t srcHeight);

// The code paths. Every one gives the same bytes for the same input.
enum class PixelPath { Reference, Sse2, Avx2, Avx512 };

bool PixelPathAvailable(PixelPath path);  // the CPU can run it
PixelPath DefaultPixelPath();             // what the public functions run
const char* PixelPathName(PixelPath path);

// The public functions on a named path; a path the CPU cannot run falls back
// to the default one.
void Rgb24ToI420On(PixelPath path, const std::uint8_t* src, std::uint8_t* dstY,
                   std::uint8_t* dstU, std::uint8_t* dstV, std::int32_t width,
                   std::int32_t height, std::int32_t strideY, std::int32_t strideUV,
                   std::int32_t srcStride, bool flip);
void ScaleI420On(PixelPath path, ScalerContext* context, std::int32_t srcWidth,
                 std::int32_t srcHeight, std::int32_t srcStrideY, std::int32_t srcStrideUV,
                 const std::uint8_t* srcY, const std::uint8_t* srcU, const std::uint8_t* srcV,
                 std::int32_t dstWidth, std::int32_t dstHeight, std::int32_t dstStrideY,
                 std::int32_t dstStrideUV, std::uint8_t* dstY, std::uint8_t* dstU,
                 std::uint8_t* dstV);
void ScalePlaneOn(PixelPath path, ScalerContext* context, std::uint8_t* dst,
                  std::int32_t dstStride, std::int32_t dstWidth, std::int32_t dstHeight,
                  const std::uint8_t* src, std::int32_t srcStride, std::int32_t srcWidth,
                  std::int32_t srcHeight);
