#include "pattern.h"

#include <algorithm>
#include <cmath>

namespace pattern {

namespace {

constexpr double kTwoPi = 6.283185307179586;
// The content moves as if drawn at 60 frames a second: frame n is at time n / 60.
constexpr double kFramesPerSecond = 60.0;

// Disc: an ellipse in picture-relative units (round on a 16:9 screen), its
// edge blended over this fraction of its radius.
constexpr double kDiscRadiusX = 0.08;
constexpr double kDiscRadiusY = 0.14;
constexpr double kDiscEdge = 0.15;
constexpr float kDisc[3] = {60.0f, 210.0f, 240.0f};  // blue, green, red
// Bar: a vertical band of the full height, soft-edged.
constexpr double kBarHalfWidth = 0.025;
constexpr double kBarEdge = 0.012;
constexpr float kBar[3] = {200.0f, 60.0f, 40.0f};
constexpr float kBarOpacity = 0.8f;

float smoothstep(double a) {
  a = std::clamp(a, 0.0, 1.0);
  return static_cast<float>(a * a * (3.0 - 2.0 * a));
}

std::uint8_t toByte(float v) { return static_cast<std::uint8_t>(std::clamp(std::lrintf(v), 0L, 255L)); }

void blend(std::uint8_t* px, const float colour[3], float alpha) {
  for (int k = 0; k < 3; ++k) px[k] = toByte(px[k] + (colour[k] - px[k]) * alpha);
}

// Fills `table` with amplitude * sin(2 pi (frequency * position + phase)) for
// positions (i + 0.5) / n, in 1/256 steps.
void wave(std::vector<std::int32_t>& table, int n, double amplitude, double frequency, double phase) {
  table.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double p = (i + 0.5) / n;
    table[i] = static_cast<std::int32_t>(std::lrint(256 * amplitude * std::sin(kTwoPi * (frequency * p + phase))));
  }
}

}  // namespace

std::uint8_t stampCheck(const Stamp& stamp) {
  unsigned sum = (stamp.ms >> 24) + ((stamp.ms >> 16) & 0xFF) + ((stamp.ms >> 8) & 0xFF) + (stamp.ms & 0xFF) +
                 (stamp.counter >> 8) + (stamp.counter & 0xFF);
  return static_cast<std::uint8_t>((sum & 0xFF) ^ 0xA5);
}

void stampBits(const Stamp& stamp, bool bits[kStampCells]) {
  static constexpr bool kSyncStart[4] = {true, false, true, false};
  static constexpr bool kSyncEnd[4] = {false, true, false, true};
  const std::uint8_t check = stampCheck(stamp);
  for (int i = 0; i < 4; ++i) bits[i] = kSyncStart[i];
  for (int i = 0; i < 32; ++i) bits[4 + i] = (stamp.ms >> (31 - i)) & 1;
  for (int i = 0; i < 16; ++i) bits[36 + i] = (stamp.counter >> (15 - i)) & 1;
  for (int i = 0; i < 8; ++i) bits[52 + i] = (check >> (7 - i)) & 1;
  for (int i = 0; i < 4; ++i) bits[60 + i] = kSyncEnd[i];
}

int stampRows(int width) { return width <= 0 ? 0 : (width + kStampCells - 1) / kStampCells; }

void Renderer::render(std::uint16_t counter, int width, int height, std::uint8_t* bgrx, std::ptrdiff_t stride) {
  if (width <= 0 || height <= 0) return;
  const double t = counter / kFramesPerSecond;

  // Background: each colour the sum of a wave across and a wave down, all
  // drifting at their own speeds. The amplitudes of each colour add up to at
  // most 90, so 128 plus both stays inside 0..255.
  wave(colB_, width, 45, 0.8, 0.25 + 0.05 * t);
  wave(colG_, width, 30, 0.5, -0.07 * t);
  wave(colR_, width, 60, 1.0, 0.10 * t);
  wave(rowB_, height, 35, 0.9, -0.04 * t);
  wave(rowG_, height, 60, 1.0, 0.08 * t);
  wave(rowR_, height, 30, 0.6, -0.06 * t);
  constexpr std::int32_t kMid = (128 << 8) + 128;  // 128, and a half for rounding
  for (int y = 0; y < height; ++y) {
    auto* px = reinterpret_cast<std::uint32_t*>(bgrx + y * stride);
    const std::int32_t b = kMid + rowB_[y], g = kMid + rowG_[y], r = kMid + rowR_[y];
    for (int x = 0; x < width; ++x) {
      // Little-endian words 0x00RRGGBB: bytes blue, green, red, unused.
      px[x] = static_cast<std::uint32_t>((b + colB_[x]) >> 8) | static_cast<std::uint32_t>((g + colG_[x]) >> 8) << 8 |
              static_cast<std::uint32_t>((r + colR_[x]) >> 8) << 16;
    }
  }

  // The bar sweeps across, full height.
  const double barX = 0.5 + 0.4 * std::sin(kTwoPi * (0.05 * t) + 2.0);
  const int barFrom = std::max(0, static_cast<int>((barX - kBarHalfWidth - kBarEdge) * width) - 1);
  const int barTo = std::min(width, static_cast<int>((barX + kBarHalfWidth + kBarEdge) * width) + 2);
  barAlpha_.resize(static_cast<std::size_t>(std::max(0, barTo - barFrom)));
  for (int x = barFrom; x < barTo; ++x) {
    const double u = (x + 0.5) / width;
    barAlpha_[x - barFrom] = kBarOpacity * smoothstep((kBarHalfWidth - std::fabs(u - barX)) / kBarEdge + 0.5);
  }
  for (int y = 0; y < height; ++y) {
    for (int x = barFrom; x < barTo; ++x) {
      if (barAlpha_[x - barFrom] > 0.0f) blend(bgrx + y * stride + 4 * x, kBar, barAlpha_[x - barFrom]);
    }
  }

  // The disc wanders over the picture on top of everything.
  const double cx = 0.5 + 0.32 * std::sin(kTwoPi * 0.11 * t);
  const double cy = 0.55 + 0.25 * std::sin(kTwoPi * 0.07 * t + 1.0);
  const int x0 = std::max(0, static_cast<int>((cx - kDiscRadiusX) * width) - 1);
  const int x1 = std::min(width, static_cast<int>((cx + kDiscRadiusX) * width) + 2);
  const int y0 = std::max(0, static_cast<int>((cy - kDiscRadiusY) * height) - 1);
  const int y1 = std::min(height, static_cast<int>((cy + kDiscRadiusY) * height) + 2);
  for (int y = y0; y < y1; ++y) {
    const double dv = ((y + 0.5) / height - cy) / kDiscRadiusY;
    for (int x = x0; x < x1; ++x) {
      const double du = ((x + 0.5) / width - cx) / kDiscRadiusX;
      const float alpha = smoothstep((1.0 - std::sqrt(du * du + dv * dv)) / kDiscEdge);
      if (alpha > 0.0f) blend(bgrx + y * stride + 4 * x, kDisc, alpha);
    }
  }
}

void addGrain(std::uint16_t counter, int width, int height, std::uint8_t* bgrx, std::ptrdiff_t stride) {
  // A xorshift generator seeded by the frame: deterministic, cheap, and
  // different in every frame.
  std::uint32_t state = 0x9E3779B9u ^ (static_cast<std::uint32_t>(counter) * 0x85EBCA6Bu);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* px = bgrx + y * stride;
    for (int x = 0; x < width; ++x, px += 4) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      // The same offset, -16..+15, on all three colours: grain in brightness.
      const int d = static_cast<int>(state >> 27) - 16;
      for (int c = 0; c < 3; ++c) px[c] = static_cast<std::uint8_t>(std::min(255, std::max(0, px[c] + d)));
    }
  }
}

void drawStamp(const Stamp& stamp, int width, std::uint8_t* bgrx, std::ptrdiff_t stride) {
  bool bits[kStampCells];
  stampBits(stamp, bits);
  const int rows = stampRows(width);
  for (int y = 0; y < rows; ++y) {
    std::uint8_t* px = bgrx + y * stride;
    for (int x = 0; x < width; ++x, px += 4) {
      // Cell i covers x in [i c, (i + 1) c) with c = width / 64.
      const std::uint8_t v = bits[static_cast<std::int64_t>(x) * kStampCells / width] ? 255 : 0;
      px[0] = px[1] = px[2] = v;
      px[3] = 0;
    }
  }
}

bool readStamp(const std::uint8_t* luma, std::ptrdiff_t stride, int width, int height, Stamp* out) {
  if (width < kStampCells || height <= 0) return false;
  const double c = width / static_cast<double>(kStampCells);
  const int y0 = static_cast<int>(std::floor(c / 4));
  const int y1 = std::min(height, std::max(y0 + 1, static_cast<int>(std::ceil(3 * c / 4))));
  if (y0 >= height) return false;
  bool bits[kStampCells];
  for (int i = 0; i < kStampCells; ++i) {
    const int x0 = static_cast<int>(std::floor(i * c + c / 4));
    const int x1 = std::min(width, std::max(x0 + 1, static_cast<int>(std::ceil(i * c + 3 * c / 4))));
    unsigned long sum = 0, count = 0;
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) sum += luma[y * stride + x];
      count += static_cast<unsigned long>(x1 - x0);
    }
    bits[i] = count > 0 && sum >= 128 * count;
  }
  Stamp s;
  for (int i = 0; i < 32; ++i) s.ms = (s.ms << 1) | bits[4 + i];
  for (int i = 0; i < 16; ++i) s.counter = static_cast<std::uint16_t>((s.counter << 1) | bits[36 + i]);
  bool expected[kStampCells];
  stampBits(s, expected);
  for (int i = 0; i < kStampCells; ++i) {
    if (bits[i] != expected[i]) return false;  // a sync cell or the check
  }
  *out = s;
  return true;
}

void bgrxToLuma(const std::uint8_t* bgrx, std::ptrdiff_t bgrxStride, int width, int height, std::uint8_t* luma,
                std::ptrdiff_t lumaStride) {
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* px = bgrx + y * bgrxStride;
    std::uint8_t* dst = luma + y * lumaStride;
    for (int x = 0; x < width; ++x, px += 4) {
      dst[x] = static_cast<std::uint8_t>(std::min(255, ((13 * px[0] + 65 * px[1] + 33 * px[2]) >> 7) + 16));
    }
  }
}

double lumaPsnr(const std::uint8_t* a, std::ptrdiff_t strideA, const std::uint8_t* b, std::ptrdiff_t strideB,
                int width, int rowFrom, int rowTo) {
  double sum = 0;
  long long count = 0;
  for (int y = rowFrom; y < rowTo; ++y) {
    const std::uint8_t* ra = a + y * strideA;
    const std::uint8_t* rb = b + y * strideB;
    long long rowSum = 0;
    for (int x = 0; x < width; ++x) {
      const int d = ra[x] - rb[x];
      rowSum += d * d;
    }
    sum += static_cast<double>(rowSum);
    count += width;
  }
  if (count == 0 || sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * count / sum);
}

}  // namespace pattern
