// The cubic scaler: the reference against its sampling rules, and every fast
// path against the reference over many sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "media/tests/scaler_test_util.h"

namespace {

using scaler_test::AllPaths;
using scaler_test::FastPaths;
using scaler_test::I420;
using scaler_test::RandomI420;
using scaler_test::Scale;

TEST(ScaleI420, StepsAndTables) {
  ScalerContext ctx;
  I420 src = RandomI420(1920, 1080, 1);
  Scale(PixelPath::Reference, ctx, src, 1280, 720);
  EXPECT_EQ(ctx.horizontalStep_, 98304);
  EXPECT_EQ(ctx.verticalStep_, 98304);
  EXPECT_EQ(ctx.horizontalTable_, 13);
  EXPECT_EQ(ctx.verticalTable_, 13);
  EXPECT_EQ(ctx.outputWidth_, 1280);

  Scale(PixelPath::Reference, ctx, src, 176, 1081);
  EXPECT_EQ(ctx.horizontalTable_, 2);
  EXPECT_EQ(ctx.verticalTable_, 20);  // any upscale
  EXPECT_EQ(ctx.outputHeight_, 1080);  // evened
  EXPECT_EQ(ctx.rowOrigin_, 0);
  EXPECT_EQ(ctx.columnOrigin_, 0);

  // More than 40 times smaller: the widest real filter, not the all-zero table 0.
  Scale(PixelPath::Reference, ctx, src, 40, 24);
  EXPECT_EQ(ctx.horizontalTable_, 1);
  EXPECT_EQ(ctx.verticalTable_, 1);
}

// A source over 40 times larger than the destination used to give an
// all-zero picture; now a flat grey stays the same grey.
TEST(ScaleI420, LargeDownscaleKeepsThePicture) {
  for (PixelPath path : AllPaths()) {
    ScalerContext ctx;
    I420 grey(1000, 900, 0, 0, 100);
    I420 out = Scale(path, ctx, grey, 20, 16);
    EXPECT_EQ(std::count(out.y.begin(), out.y.end(), 100), 20 * 16) << PixelPathName(path);
    EXPECT_EQ(std::count(out.u.begin(), out.u.end(), 100), 10 * 8) << PixelPathName(path);
    EXPECT_EQ(std::count(out.v.begin(), out.v.end(), 100), 10 * 8) << PixelPathName(path);
  }
}

TEST(ScaleI420, EqualSizesCopy) {
  for (PixelPath path : AllPaths()) {
    ScalerContext ctx;
    I420 src = RandomI420(33, 20, 2, 3, 3);
    I420 out = Scale(path, ctx, src, 33, 20);
    for (int r = 0; r < 20; ++r) {
      for (int x = 0; x < 32; ++x) ASSERT_EQ(out.y[r * 33 + x], src.y[r * src.strideY + x]);
      EXPECT_EQ(out.y[r * 33 + 32], 0x5A);  // the evened width leaves the last column
    }
    for (int r = 0; r < 10; ++r)
      for (int x = 0; x < 16; ++x) {
        ASSERT_EQ(out.u[r * 16 + x], src.u[r * src.strideUV + x]);
        ASSERT_EQ(out.v[r * 16 + x], src.v[r * src.strideUV + x]);
      }
  }
}

// With equal widths the horizontal pass is the identity, with equal heights
// the vertical one: identical rows (columns) come out unchanged.
TEST(ScaleI420, OneDirectionOnly) {
  for (PixelPath path : AllPaths()) {
    SCOPED_TRACE(PixelPathName(path));
    ScalerContext ctx;
    I420 rows = RandomI420(64, 1, 4);
    I420 src(64, 30);
    for (int r = 0; r < 30; ++r) std::copy(rows.y.begin(), rows.y.end(), src.y.begin() + r * 64);
    I420 out = Scale(path, ctx, src, 64, 77);
    for (int r = 0; r < 76; ++r)
      ASSERT_TRUE(std::equal(rows.y.begin(), rows.y.end(), out.y.begin() + r * 64)) << r;

    I420 cols(30, 64);
    for (int r = 0; r < 64; ++r) std::fill_n(cols.y.begin() + r * 30, 30, rows.y[r]);
    I420 out2 = Scale(path, ctx, cols, 71, 64);
    for (int r = 0; r < 64; ++r)
      ASSERT_EQ(std::count(out2.y.begin() + r * 71, out2.y.begin() + r * 71 + 70, rows.y[r]), 70);
  }
}

// The reference's ring of line slots against the sampling written out
// directly: output (x, r) filters source rows floor(r * step) - 1 .. + 2, each
// filtered horizontally around floor(x * step), all clamped to the plane.
TEST(ScalePlane, ReferenceMatchesDirectSampling) {
  for (auto [sw, sh, dw, dh] : {std::array{37, 23, 16, 50}, std::array{50, 90, 33, 17},
                                std::array{300, 200, 120, 64}, std::array{12, 7, 40, 35}}) {
    ScalerContext ctx;
    I420 src = RandomI420(sw, sh, sw * dh);
    I420 out = Scale(PixelPath::Reference, ctx, src, dw, dh);
    const int w = dw & ~1, h = dh & ~1;
    const auto* ht = cubicFilterTables[ctx.horizontalTable_];
    const auto* vt = cubicFilterTables[ctx.verticalTable_];
    auto at = [&](int row, int col) {
      return src.y[std::clamp(row, 0, sh - 1) * sw + std::clamp(col, 0, sw - 1)];
    };
    auto horizontal = [&](int row, int x) {
      const int pos = x * ctx.horizontalStep_;
      const std::int16_t* c = ht[(pos >> 12) & 15];
      int sum = 0;
      for (int k = 0; k < 4; ++k) sum += c[k] * at(row, (pos >> 16) - 1 + k);
      return std::clamp(sum >> 7, 0, 255);
    };
    for (int r = 0; r < h; ++r) {
      const int pos = r * ctx.verticalStep_;
      const std::int16_t* c = vt[(pos >> 12) & 15];
      for (int x = 0; x < w; ++x) {
        int sum = 0;
        for (int k = 0; k < 4; ++k) sum += c[k] * horizontal((pos >> 16) - 1 + k, x);
        // 16-bit lanes could only differ from the exact sum where it saturates.
        ASSERT_EQ(out.y[r * dw + x], std::clamp(sum >> 7, 0, 255))
            << sw << "x" << sh << "->" << dw << "x" << dh << " at " << x << "," << r;
      }
    }
  }
}

void ExpectFastMatchesReference(int sw, int sh, int dw, int dh, int pad = 0) {
  ScalerContext refCtx, fastCtx;
  I420 src = RandomI420(sw, sh, static_cast<std::uint32_t>(sw * 7919 + sh * 31 + dw * 3 + dh), pad, pad);
  I420 ref = Scale(PixelPath::Reference, refCtx, src, dw, dh);
  for (PixelPath path : FastPaths()) {
    I420 fast = Scale(path, fastCtx, src, dw, dh);
    ASSERT_TRUE(fast == ref) << PixelPathName(path) << " " << sw << "x" << sh << " -> " << dw
                             << "x" << dh;
  }
}

TEST(ScaleI420, FastPathsMatchReferenceOnTinySizes) {
  for (int sw = 1; sw <= 8; ++sw)
    for (int sh = 1; sh <= 8; ++sh)
      for (int dw = 1; dw <= 8; ++dw)
        for (int dh = 1; dh <= 8; ++dh) ExpectFastMatchesReference(sw, sh, dw, dh);
}

TEST(ScaleI420, FastPathsMatchReferenceOnAwkwardSizes) {
  const std::array<int, 4> cases[] = {
      {37, 29, 100, 61},   {100, 61, 37, 29},    {300, 100, 150, 400}, {150, 400, 300, 100},
      {17, 33, 15, 9},     {31, 31, 33, 33},     {65, 47, 63, 49},     {1000, 900, 20, 16},
      {1000, 60, 50, 59},  {2048, 64, 4096, 16}, {4095, 9, 4094, 3},   {96, 96, 4096, 5},
      {24, 24, 23, 25},    {1366, 768, 1366, 768}, {1364, 768, 1280, 720}, {16, 16, 8, 8},
      {800, 2, 799, 2},    {2, 800, 2, 799},     {1, 500, 300, 2},     {500, 1, 2, 300},
      // Steps near 4: some groups of columns span more source bytes than
      // the widest kernels take at once.
      {259, 9, 64, 5},     {262, 9, 64, 5},      {1030, 4, 256, 4},
      // The largest sources, to a single row or column.
      {32000, 3, 2, 2},    {3, 32000, 2, 2}};
  for (const auto& c : cases) ExpectFastMatchesReference(c[0], c[1], c[2], c[3]);
  for (const auto& c : cases) ExpectFastMatchesReference(c[0], c[1], c[2], c[3], 7);
}

// The sizes the device can ask for, from common screens, and 4K to 1080p.
TEST(ScaleI420, FastPathsMatchReferenceOnDeviceSizes) {
  const std::pair<int, int> device[] = {
      {128, 96},   {176, 144},  {352, 288},  {704, 576},  {1408, 1152}, {704, 480}, {352, 240},
      {640, 480},  {320, 240},  {800, 600},  {400, 300},  {1024, 768},  {512, 384}, {256, 192},
      {320, 480},  {352, 576},  {352, 480},  {1280, 1024}, {1280, 720}, {512, 288}, {672, 384},
      {768, 448},  {848, 480},  {1024, 576}, {704, 240},  {704, 288},   {640, 368}, {432, 240},
      {1920, 1080}, {320, 180}, {640, 360},  {960, 540},  {1440, 1080}, {960, 720}, {864, 480},
      {480, 352},  {736, 400},  {448, 336},  {448, 240},  {212, 160},   {424, 240}, {480, 270},
      {424, 320},  {1920, 1072}, {384, 216}};
  for (auto [dw, dh] : device) ExpectFastMatchesReference(1920, 1080, dw, dh);
  for (auto [dw, dh] : {std::pair{1280, 720}, std::pair{352, 288}, std::pair{1920, 1080}})
    ExpectFastMatchesReference(1364, 768, dw, dh);
  ExpectFastMatchesReference(2560, 1440, 1920, 1080);
  ExpectFastMatchesReference(3840, 2160, 1920, 1080);
}

// A source one pixel wide or high has empty chroma planes: nothing of them is
// read (a zero-sized block stands in for each) and the destination chroma
// keeps its content.
TEST(ScaleI420, EmptyChromaIsNeitherReadNorWritten) {
  for (PixelPath path : AllPaths()) {
    for (auto [sw, sh] : {std::pair{1, 1}, std::pair{1, 9}, std::pair{9, 1}}) {
      ScalerContext ctx;
      I420 src = RandomI420(sw, sh, 5);
      std::unique_ptr<std::uint8_t[]> none(new std::uint8_t[0]);
      I420 dst(8, 6, 0, 0, 0x5A);
      ScaleI420On(path, &ctx, sw, sh, src.strideY, 0, src.Y(), none.get(), none.get(), 8, 6,
                  dst.strideY, dst.strideUV, dst.Y(), dst.U(), dst.V());
      EXPECT_EQ(std::count(dst.u.begin(), dst.u.end(), 0x5A), 12) << PixelPathName(path);
      EXPECT_EQ(std::count(dst.v.begin(), dst.v.end(), 0x5A), 12) << PixelPathName(path);
      EXPECT_LT(std::count(dst.y.begin(), dst.y.end(), 0x5A), 48) << PixelPathName(path);
    }
  }
}

TEST(ScaleI420, NullPlanesAndBadSizesAreSkipped) {
  for (PixelPath path : AllPaths()) {
    ScalerContext ctx;
    I420 src = RandomI420(40, 30, 6);
    I420 dst(20, 14, 0, 0, 0x5A);
    ScaleI420On(path, &ctx, 40, 30, src.strideY, src.strideUV, src.Y(), src.U(), src.V(), 20, 14,
                dst.strideY, dst.strideUV, dst.Y(), nullptr, dst.V());
    EXPECT_EQ(std::count(dst.u.begin(), dst.u.end(), 0x5A), 70);
    EXPECT_LT(std::count(dst.v.begin(), dst.v.end(), 0x5A), 70);

    I420 untouched(20, 14, 0, 0, 0x5A);
    I420 dst2 = untouched;
    for (auto [dw, dh] : {std::pair{0, 14}, std::pair{20, 0}, std::pair{4098, 14}})
      ScaleI420On(path, &ctx, 40, 30, src.strideY, src.strideUV, src.Y(), src.U(), src.V(), dw,
                  dh, dst2.strideY, dst2.strideUV, dst2.Y(), dst2.U(), dst2.V());
    EXPECT_TRUE(dst2 == untouched);
  }
}

}  // namespace

namespace {

// What the capture object calls: the run-time choice gives the reference's bytes.
TEST(ScaleI420, PublicFunctionsMatchReference) {
  EXPECT_TRUE(PixelPathAvailable(DefaultPixelPath()));
  const int w = 1364, h = 768;
  std::vector<std::uint8_t> bgr = scaler_test::RandomBytes(3 * w * h, 11);
  I420 full(w, h), fullRef(w, h);
  Rgb24ToI420(bgr.data(), full.Y(), full.U(), full.V(), w, h, w, w / 2, 3 * w, true);
  Rgb24ToI420On(PixelPath::Reference, bgr.data(), fullRef.Y(), fullRef.U(), fullRef.V(), w, h, w,
                w / 2, 3 * w, true);
  ASSERT_TRUE(full == fullRef);

  ScalerContext ctx, refCtx;
  I420 out(1280, 720), ref(1280, 720);
  ScaleI420(&ctx, w, h, w, w / 2, full.Y(), full.U(), full.V(), 1280, 720, 1280, 640, out.Y(),
            out.U(), out.V());
  ScaleI420On(PixelPath::Reference, &refCtx, w, h, w, w / 2, full.Y(), full.U(), full.V(), 1280,
              720, 1280, 640, ref.Y(), ref.U(), ref.V());
  EXPECT_TRUE(out == ref);
}

}  // namespace
