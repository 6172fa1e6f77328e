// The stamp reader on synthetic pictures: drawn at screen size, scaled as
// the sender scales, blurred and noisy as a decoder leaves them.
#include "device/stamp_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "device/latency_stats.h"
#include "stream_builder.h"

namespace {

struct Plane {
  int w, h;
  std::vector<std::uint8_t> px;
  Plane(int width, int height, std::uint8_t fill = 90)
      : w(width), h(height), px(static_cast<std::size_t>(width) * height, fill) {}
  std::uint8_t& at(int x, int y) { return px[static_cast<std::size_t>(y) * w + x]; }
};

// Area-average scaling, as a screen is scaled to a smaller picture.
Plane scaled(const Plane& in, int w, int h) {
  Plane out(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int x0 = x * in.w / w, x1 = std::max(x0 + 1, (x + 1) * in.w / w);
      int y0 = y * in.h / h, y1 = std::max(y0 + 1, (y + 1) * in.h / h);
      unsigned sum = 0;
      for (int yy = y0; yy < y1; ++yy)
        for (int xx = x0; xx < x1; ++xx) sum += in.px[static_cast<std::size_t>(yy) * in.w + xx];
      out.at(x, y) = static_cast<std::uint8_t>(sum / unsigned((x1 - x0) * (y1 - y0)));
    }
  return out;
}

TEST(StampReader, ReadsStampsAtEverySizeTheSenderScalesTo) {
  const std::uint32_t ms = 0xDEADBEEF;
  const std::uint16_t counter = 0xA5C3;
  Plane screen(1920, 1080);
  devtest::drawStamp(screen.px.data(), screen.w, screen.w, screen.h, ms, counter);
  const int sizes[][2] = {{1920, 1080}, {1280, 720}, {960, 540}, {640, 360}, {352, 288}, {320, 180}};
  std::mt19937 rng(3);
  for (const auto& s : sizes) {
    Plane p = scaled(screen, s[0], s[1]);
    // Coding noise of a few levels does not change a bit.
    for (auto& v : p.px) v = static_cast<std::uint8_t>(std::clamp(int(v) + int(rng() % 21) - 10, 0, 255));
    device::Stamp st{};
    ASSERT_TRUE(device::readStamp(p.px.data(), p.w, p.w, p.h, &st)) << s[0] << "x" << s[1];
    EXPECT_EQ(st.drawMs, ms);
    EXPECT_EQ(st.counter, counter);
  }
  // A stride wider than the picture is honoured.
  Plane wide(700, 100);
  devtest::drawStamp(wide.px.data(), 700, 640, 100, 12345, 7);
  device::Stamp st{};
  ASSERT_TRUE(device::readStamp(wide.px.data(), 700, 640, 100, &st));
  EXPECT_EQ(st.drawMs, 12345u);
  EXPECT_EQ(st.counter, 7u);
}

TEST(StampReader, RejectsPicturesWithoutAValidStamp) {
  device::Stamp st{};
  Plane plain(640, 360);
  EXPECT_FALSE(device::readStamp(plain.px.data(), 640, 640, 360, &st));

  Plane p(640, 360);
  devtest::drawStamp(p.px.data(), 640, 640, 360, 1000, 1);
  ASSERT_TRUE(device::readStamp(p.px.data(), 640, 640, 360, &st));
  auto flipCell = [](Plane q, int cell) {
    for (int y = 0; y < 10; ++y)
      for (int x = cell * 10; x < cell * 10 + 10; ++x) q.at(x, y) = q.at(x, y) > 128 ? 16 : 235;
    return q;
  };
  // A sync cell at either end, one bit of the stamp, the counter or the check.
  for (int cell : {0, 3, 61, 63, 10, 40, 55}) {
    Plane q = flipCell(p, cell);
    EXPECT_FALSE(device::readStamp(q.px.data(), 640, 640, 360, &st)) << "cell " << cell;
  }
  // Too narrow for 64 cells, or cells taller than the picture.
  EXPECT_FALSE(device::readStamp(p.px.data(), 640, 63, 360, &st));
  EXPECT_FALSE(device::readStamp(p.px.data(), 640, 640, 9, &st));
  EXPECT_FALSE(device::readStamp(nullptr, 640, 640, 360, &st));
}

TEST(LatencyStats, QuantilesOfHistogramAndWindow) {
  device::LatencyHistogram h;
  device::LatencyWindow w;
  EXPECT_EQ(h.quantile(0.5), 0);
  EXPECT_EQ(w.quantile(0.5), 0);
  for (int i = 1; i <= 100; ++i) {
    h.add(i * 1.0);
    w.add(i * 1.0);
  }
  EXPECT_DOUBLE_EQ(h.quantile(0.5), 50.0);
  EXPECT_DOUBLE_EQ(h.quantile(0.95), 95.0);
  EXPECT_DOUBLE_EQ(w.quantile(0.5), 50.0);
  EXPECT_DOUBLE_EQ(w.quantile(0.95), 95.0);
  // Out-of-range values are clamped, not lost.
  h.add(-5);
  h.add(1e9);
  EXPECT_EQ(h.count(), 102u);
  EXPECT_DOUBLE_EQ(h.quantile(1.0), device::LatencyHistogram::kMaxMs);
  EXPECT_DOUBLE_EQ(h.quantile(0.0), 0.0);
}

}  // namespace
