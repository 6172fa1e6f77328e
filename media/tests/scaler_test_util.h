// Pictures and helpers shared by the scaler tests.
#pragma once
#include <cstdint>
#include <random>
#include <vector>

#include "media/scaler.h"

namespace scaler_test {

// The fast paths this CPU can run (each is compared with the reference).
inline std::vector<PixelPath> FastPaths() {
  std::vector<PixelPath> paths;
  for (PixelPath p : {PixelPath::Sse2, PixelPath::Avx2, PixelPath::Avx512})
    if (PixelPathAvailable(p)) paths.push_back(p);
  return paths;
}

// The reference and every fast path.
inline std::vector<PixelPath> AllPaths() {
  std::vector<PixelPath> paths{PixelPath::Reference};
  for (PixelPath p : FastPaths()) paths.push_back(p);
  return paths;
}

inline std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

// An I420 picture whose planes are exactly as large as its strides and sizes
// need, so that any read or write past them is caught by AddressSanitizer.
struct I420 {
  int width, height, strideY, strideUV;
  std::vector<std::uint8_t> y, u, v;
  I420(int w, int h, int padY = 0, int padUV = 0, std::uint8_t fill = 0)
      : width(w), height(h), strideY(w + padY), strideUV(w / 2 + padUV),
        y(static_cast<std::size_t>(strideY) * h, fill),
        u(static_cast<std::size_t>(strideUV) * ((h + 1) / 2), fill),
        v(static_cast<std::size_t>(strideUV) * ((h + 1) / 2), fill) {}
  std::uint8_t* Y() { return y.empty() ? nullptr : y.data(); }
  std::uint8_t* U() { return u.empty() ? nullptr : u.data(); }
  std::uint8_t* V() { return v.empty() ? nullptr : v.data(); }
  bool operator==(const I420& o) const { return y == o.y && u == o.u && v == o.v; }
};

inline I420 RandomI420(int w, int h, std::uint32_t seed, int padY = 0, int padUV = 0) {
  I420 p(w, h, padY, padUV);
  p.y = RandomBytes(p.y.size(), seed);
  p.u = RandomBytes(p.u.size(), seed + 1);
  p.v = RandomBytes(p.v.size(), seed + 2);
  return p;
}

// Scales src to a new picture of dstW x dstH on one path; the destination
// starts filled with `fill` so that unwritten samples show.
inline I420 Scale(PixelPath path, ScalerContext& ctx, I420& src, int dstW, int dstH,
                  std::uint8_t fill = 0x5A) {
  I420 dst(dstW, dstH, 0, 0, fill);
  ScaleI420On(path, &ctx, src.width, src.height, src.strideY, src.strideUV, src.Y(), src.U(),
              src.V(), dstW, dstH, dst.strideY, dst.strideUV, dst.Y(), dst.U(), dst.V());
  return dst;
}

}  // namespace scaler_test
