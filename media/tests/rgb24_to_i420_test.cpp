// Colour conversion: the reference against known colours and the rules,
// and every fast path against the reference.
#include <gtest/gtest.h>

#include <algorithm>

#include "media/tests/scaler_test_util.h"

namespace {

using scaler_test::AllPaths;
using scaler_test::FastPaths;
using scaler_test::RandomBytes;

// One conversion with buffers sized exactly to the picture (a read or write
// past them is caught under AddressSanitizer) and row padding that must stay
// untouched (sentinel 0xEE).
struct Conversion {
  int width, height, strideY, strideUV, srcStride;
  std::vector<std::uint8_t> src, y, u, v;

  Conversion(int w, int h, int padY, int padUV, int padSrc, std::uint32_t seed)
      : width(w), height(h), strideY(w + padY), strideUV(w / 2 + padUV), srcStride(3 * w + padSrc) {
    src = RandomBytes(static_cast<std::size_t>(srcStride) * (h - 1) + 3 * w, seed);
    const int chromaRows = (h + 1) / 2;
    y.assign(static_cast<std::size_t>(strideY) * (h - 1) + w, 0xEE);
    u.assign(static_cast<std::size_t>(strideUV) * (chromaRows - 1) + w / 2, 0xEE);
    v = u;
  }
  void Run(PixelPath path, bool flip) {
    std::fill(y.begin(), y.end(), 0xEE);
    std::fill(u.begin(), u.end(), 0xEE);
    std::fill(v.begin(), v.end(), 0xEE);
    Rgb24ToI420On(path, src.data(), y.data(), u.empty() ? nullptr : u.data(),
                  v.empty() ? nullptr : v.data(), width, height, strideY, strideUV, srcStride, flip);
  }
  // Padding between rows was not written.
  bool PaddingUntouched() const {
    auto clean = [](const std::vector<std::uint8_t>& plane, int stride, int used) {
      for (std::size_t i = 0; i < plane.size(); ++i)
        if (static_cast<int>(i % stride) >= used && plane[i] != 0xEE) return false;
      return true;
    };
    return clean(y, strideY, width) && (u.empty() || (clean(u, strideUV, width / 2) &&
                                                      clean(v, strideUV, width / 2)));
  }
};

// Uniform 16 x 2 picture of one colour: its Y, U and V on each path.
TEST(Rgb24ToI420, KnownColours) {
  struct Case { int b, g, r, y, u, v; };
  const Case cases[] = {{0, 0, 0, 16, 128, 128},     {255, 255, 255, 237, 131, 131},
                        {0, 0, 255, 81, 92, 239},    {0, 255, 0, 145, 56, 36},
                        {255, 0, 0, 41, 239, 112},   {63, 63, 63, 70, 128, 128},
                        {64, 64, 64, 71, 129, 129}};
  for (PixelPath path : AllPaths()) {
    for (const Case& c : cases) {
      const int w = 24, h = 2;
      std::vector<std::uint8_t> src(3 * w * h);
      for (int i = 0; i < w * h; ++i) {
        src[3 * i] = static_cast<std::uint8_t>(c.b);
        src[3 * i + 1] = static_cast<std::uint8_t>(c.g);
        src[3 * i + 2] = static_cast<std::uint8_t>(c.r);
      }
      std::vector<std::uint8_t> y(w * h), u(w / 2), v(w / 2);
      Rgb24ToI420On(path, src.data(), y.data(), u.data(), v.data(), w, h, w, w / 2, 3 * w, false);
      SCOPED_TRACE(std::string(PixelPathName(path)) + " colour " + std::to_string(c.b) + "," +
                   std::to_string(c.g) + "," + std::to_string(c.r));
      EXPECT_EQ(std::count(y.begin(), y.end(), c.y), w * h);
      EXPECT_EQ(std::count(u.begin(), u.end(), c.u), w / 2);
      EXPECT_EQ(std::count(v.begin(), v.end(), c.v), w / 2);
    }
  }
}

// Chroma comes from the first row of each pair only; flip reverses the rows.
TEST(Rgb24ToI420, ChromaFromFirstRowAndFlip) {
  const int w = 40, h = 6;
  for (PixelPath path : AllPaths()) {
    SCOPED_TRACE(PixelPathName(path));
    Conversion a(w, h, 0, 0, 0, 7);
    Conversion b = a;
    std::vector<std::uint8_t> other = RandomBytes(3 * w, 99);
    for (int row = 1; row < h; row += 2)
      std::copy(other.begin(), other.end(), b.src.begin() + row * 3 * w);
    a.Run(path, false);
    b.Run(path, false);
    EXPECT_EQ(a.u, b.u);
    EXPECT_EQ(a.v, b.v);
    EXPECT_NE(a.y, b.y);

    // The same rows stored bottom-up, converted with flip, give the same planes.
    Conversion flipped = a;
    for (int row = 0; row < h; ++row)
      std::copy(a.src.begin() + row * 3 * w, a.src.begin() + (row + 1) * 3 * w,
                flipped.src.begin() + (h - 1 - row) * 3 * w);
    flipped.Run(path, true);
    EXPECT_EQ(flipped.y, a.y);
    EXPECT_EQ(flipped.u, a.u);
    EXPECT_EQ(flipped.v, a.v);
  }
}

// Columns past the last whole group of 8 are converted like all others
// (they used to be left stale): a 1364-wide row has 1364 luma and 682
// chroma samples, each as the formulas give it.
TEST(Rgb24ToI420, TailColumnsAreConverted) {
  const int w = 1364, h = 2;
  for (PixelPath path : AllPaths()) {
    SCOPED_TRACE(PixelPathName(path));
    Conversion c(w, h, 0, 0, 0, 3);
    c.Run(path, false);
    for (int x = w - 8; x < w; ++x) {
      const std::uint8_t* p = &c.src[3 * x];
      const int want = std::min(255, ((13 * p[0] + 65 * p[1] + 33 * p[2]) >> 7) + 16);
      EXPECT_EQ(c.y[x], want) << "column " << x;
    }
    for (int m = w / 2 - 4; m < w / 2; ++m) {
      const std::uint8_t* p = &c.src[6 * m];
      const int b = (p[0] + p[3] + 1) >> 1, g = (p[1] + p[4] + 1) >> 1, r = (p[2] + p[5] + 1) >> 1;
      const int wantU = std::clamp((56 * b - 36 * g - 18 * r) >> 7, -128, 127) + 128;
      const int wantV = std::clamp((-8 * b - 46 * g + 56 * r) >> 7, -128, 127) + 128;
      EXPECT_EQ(c.u[m], wantU) << "chroma column " << m;
      EXPECT_EQ(c.v[m], wantV) << "chroma column " << m;
    }
  }
}

// Every fast path gives the reference's bytes: tiny, odd and unaligned sizes,
// odd heights (the last row pair has one row), padded strides, both row orders.
TEST(Rgb24ToI420, FastPathsMatchReference) {
  std::vector<int> widths;
  for (int w = 1; w <= 40; ++w) widths.push_back(w);
  for (int w : {47, 63, 64, 65, 100, 1364, 1366, 1920}) widths.push_back(w);
  std::uint32_t seed = 1;
  for (PixelPath path : FastPaths()) {
    for (int w : widths) {
      for (int h : {1, 2, 3, 4, 5, 7}) {
        for (bool flip : {false, true}) {
          const int pad = (w + h) % 3 == 0 ? 5 : 0;
          Conversion ref(w, h, pad, pad, pad, ++seed);
          Conversion fast = ref;
          ref.Run(PixelPath::Reference, flip);
          fast.Run(path, flip);
          SCOPED_TRACE(std::string(PixelPathName(path)) + " " + std::to_string(w) + "x" +
                       std::to_string(h) + (flip ? " flip" : ""));
          ASSERT_EQ(fast.y, ref.y);
          ASSERT_EQ(fast.u, ref.u);
          ASSERT_EQ(fast.v, ref.v);
          ASSERT_TRUE(ref.PaddingUntouched());
          ASSERT_TRUE(fast.PaddingUntouched());
        }
      }
    }
  }
}

TEST(Rgb24ToI420, FullScreenMatchesReference) {
  for (PixelPath path : FastPaths()) {
    for (auto [w, h] : {std::pair{1920, 1080}, std::pair{1364, 768}, std::pair{3840, 2160}}) {
      Conversion ref(w, h, 0, 0, 0, w);
      Conversion fast = ref;
      ref.Run(PixelPath::Reference, true);
      fast.Run(path, true);
      EXPECT_TRUE(fast.y == ref.y && fast.u == ref.u && fast.v == ref.v)
          << PixelPathName(path) << " " << w << "x" << h;
    }
  }
}

TEST(Rgb24ToI420, LumaOnlyWithoutChromaPlanes) {
  const int w = 70, h = 5;
  Conversion full(w, h, 0, 0, 0, 21);
  full.Run(PixelPath::Reference, true);
  for (PixelPath path : AllPaths()) {
    std::vector<std::uint8_t> y(full.y.size(), 0xEE);
    Rgb24ToI420On(path, full.src.data(), y.data(), nullptr, nullptr, w, h, w, w / 2, 3 * w, true);
    EXPECT_EQ(y, full.y) << PixelPathName(path);
  }
}

TEST(Rgb24ToI420, EmptyPictureWritesNothing) {
  std::uint8_t src[3] = {1, 2, 3}, y = 0xEE, u = 0xEE, v = 0xEE;
  for (PixelPath path : AllPaths()) {
    Rgb24ToI420On(path, src, &y, &u, &v, 1, 0, 1, 1, 3, false);
    Rgb24ToI420On(path, src, &y, &u, &v, 0, 1, 1, 1, 3, true);
    EXPECT_EQ(y, 0xEE);
    EXPECT_EQ(u, 0xEE);
  }
}

}  // namespace
