#include "media/tests/desktop_sequence.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

void FillRect(std::vector<uint8_t>& plane, int stride, int rows, int x0, int y0, int w, int h,
              uint8_t value) {
  int x1 = std::min(x0 + w, stride), y1 = std::min(y0 + h, rows);
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  for (int yy = y0; yy < y1; ++yy)
    if (x1 > x0) memset(&plane[size_t(yy) * stride + x0], value, size_t(x1 - x0));
}

}  // namespace

DesktopSequence::DesktopSequence(int width, int height, Scene scene)
    : width_(width), height_(height), scene_(scene) {
  const size_t ySize = size_t(width) * height;
  const size_t cSize = size_t(width / 2) * (height / 2);
  bgY_.assign(ySize, 0);
  bgU_.assign(cSize, 0);
  bgV_.assign(cSize, 0);
  // A smooth blue-grey wallpaper.
  for (int yy = 0; yy < height; ++yy)
    for (int xx = 0; xx < width; ++xx) bgY_[size_t(yy) * width + xx] = uint8_t(70 + (xx + yy) * 40 / (width + height));
  std::fill(bgU_.begin(), bgU_.end(), 150);
  std::fill(bgV_.begin(), bgV_.end(), 115);
  // A taskbar along the bottom with a few icons.
  const int bar = std::max(8, height / 24);
  FillRect(bgY_, width, height, 0, height - bar, width, bar, 40);
  for (int i = 0; i < 8; ++i) FillRect(bgY_, width, height, 8 + i * bar * 2, height - bar + 2, bar - 4, bar - 4, uint8_t(120 + i * 15));
  // Two document windows that stay put.
  DrawWindow(bgY_, bgU_, bgV_, width / 16, height / 12, width / 2, height * 2 / 3, 1, 160, 100);
  DrawWindow(bgY_, bgU_, bgV_, width * 5 / 8, height / 6, width / 3, height / 2, 2, 100, 160);
  y_ = bgY_;
  u_ = bgU_;
  v_ = bgV_;
}

void DesktopSequence::DrawWindow(std::vector<uint8_t>& y, std::vector<uint8_t>& u,
                                 std::vector<uint8_t>& v, int x0, int y0, int w, int h,
                                 uint32_t seed, uint8_t titleU, uint8_t titleV) {
  const int cw = width_ / 2, ch = height_ / 2;
  const int title = std::max(6, height_ / 40) & ~1;
  FillRect(y, width_, height_, x0 - 1, y0 - 1, w + 2, h + 2, 30);  // border
  FillRect(y, width_, height_, x0, y0, w, title, 90);
  FillRect(u, cw, ch, x0 / 2, y0 / 2, w / 2, title / 2, titleU);
  FillRect(v, cw, ch, x0 / 2, y0 / 2, w / 2, title / 2, titleV);
  FillRect(y, width_, height_, x0, y0 + title, w, h - title, 245);
  FillRect(u, cw, ch, x0 / 2, (y0 + title) / 2, w / 2, (h - title) / 2, 128);
  FillRect(v, cw, ch, x0 / 2, (y0 + title) / 2, w / 2, (h - title) / 2, 128);
  // Lines of "words": runs of glyph cells with thin dark strokes.
  const int lineH = 12, glyphW = 6;
  for (int line = 0; (line + 1) * lineH + title + 4 < h; ++line) {
    int gy = y0 + title + 4 + line * lineH;
    uint32_t r = Hash(seed * 7919u + uint32_t(line));
    int lineLen = int(r % uint32_t(std::max(1, w - 16)));
    for (int gx = 4; gx + glyphW < std::min(w, lineLen); gx += glyphW) {
      uint32_t g = Hash(r + uint32_t(gx));
      if (g % 7 == 0) continue;  // a space
      for (int s = 0; s < 3; ++s) {
        uint32_t stroke = Hash(g + uint32_t(s));
        bool vertical = stroke & 1;
        int sx = x0 + gx + int(stroke >> 1) % 4, sy = gy + int(stroke >> 3) % 6;
        if (vertical)
          FillRect(y, width_, height_, sx, sy, 1, 3 + int(stroke >> 5) % 5, 20);
        else
          FillRect(y, width_, height_, sx, sy, 2 + int(stroke >> 5) % 3, 1, 20);
      }
    }
  }
}

void DesktopSequence::Render(int index) {
  memcpy(y_.data(), bgY_.data(), y_.size());
  memcpy(u_.data(), bgU_.data(), u_.size());
  memcpy(v_.data(), bgV_.data(), v_.size());
  if (scene_ == Scene::kStatic) return;
  // A window travelling right and down and bouncing back, 6 and 3 pixels a picture.
  const int w = width_ * 3 / 8, h = height_ * 3 / 8;
  const int spanX = width_ - w - 2, spanY = height_ - h - height_ / 24 - 2;
  int px = (index * 6) % (2 * spanX), py = (index * 3) % (2 * spanY);
  if (px > spanX) px = 2 * spanX - px;
  if (py > spanY) py = 2 * spanY - py;
  DrawWindow(y_, u_, v_, (px + 1) & ~1, (py + 1) & ~1, w, h, 3, 90, 90);
  if (scene_ != Scene::kBusy) return;
  // A region of fresh detail each picture, like a playing video.
  const int rw = width_ / 4, rh = height_ / 4;
  const int rx = width_ / 10, ry = height_ / 2;
  for (int yy = 0; yy < rh; ++yy)
    for (int xx = 0; xx < rw; ++xx) {
      uint32_t n = Hash(uint32_t(index) * 2654435761u + uint32_t(yy * rw + xx));
      int base = 128 + int(60 * std::sin((xx + index * 4) * 0.05) * std::cos((yy - index * 2) * 0.07));
      y_[size_t(ry + yy) * width_ + rx + xx] = uint8_t(std::clamp(base + int(n % 41) - 20, 0, 255));
    }
}

FramePicture DesktopSequence::picture() const {
  FramePicture p;
  p.y = y_.data();
  p.u = u_.data();
  p.v = v_.data();
  p.yStride = width_;
  p.uStride = p.vStride = width_ / 2;
  p.width = p.width2 = width_;
  p.height = height_;
  return p;
}

double PlanePsnr(const uint8_t* a, int strideA, const uint8_t* b, int strideB, int width, int height) {
  double sum = 0;
  for (int yy = 0; yy < height; ++yy)
    for (int xx = 0; xx < width; ++xx) {
      int d = int(a[size_t(yy) * strideA + xx]) - int(b[size_t(yy) * strideB + xx]);
      sum += d * d;
    }
  double mse = sum / (double(width) * height);
  if (mse <= 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}
