#include "device/stamp_reader.h"

#include <cmath>

namespace device {

namespace {
constexpr int kCells = 64;
const bool kSyncHead[4] = {1, 0, 1, 0};
const bool kSyncTail[4] = {0, 1, 0, 1};

std::uint8_t checkByte(std::uint32_t drawMs, std::uint16_t counter) {
  unsigned sum = (drawMs >> 24) + (drawMs >> 16 & 0xFF) + (drawMs >> 8 & 0xFF) + (drawMs & 0xFF) +
                 (counter >> 8) + (counter & 0xFF);
  return static_cast<std::uint8_t>((sum & 0xFF) ^ 0xA5);
}

// The central half of [from, from + size): at least one whole pixel.
void centralHalf(double from, double size, int limit, int* lo, int* hi) {
  *lo = static_cast<int>(std::floor(from + size / 4));
  *hi = static_cast<int>(std::floor(from + size * 3 / 4));
  if (*hi <= *lo) *hi = *lo + 1;
  if (*hi > limit) *hi = limit;
  if (*lo >= *hi) *lo = *hi - 1;
}
}  // namespace

void stampBits(const Stamp& s, bool bits[64]) {
  for (int i = 0; i < 4; ++i) {
    bits[i] = kSyncHead[i];
    bits[60 + i] = kSyncTail[i];
  }
  for (int i = 0; i < 32; ++i) bits[4 + i] = (s.drawMs >> (31 - i)) & 1;
  for (int i = 0; i < 16; ++i) bits[36 + i] = (s.counter >> (15 - i)) & 1;
  const std::uint8_t check = checkByte(s.drawMs, s.counter);
  for (int i = 0; i < 8; ++i) bits[52 + i] = (check >> (7 - i)) & 1;
}

bool readStamp(const std::uint8_t* luma, int stride, int width, int height, Stamp* out) {
  if (!luma || width < kCells || height < 1) return false;
  const double cell = width / double(kCells);
  if (cell > height) return false;
  int y0, y1;
  centralHalf(0, cell, height, &y0, &y1);
  bool bits[kCells];
  for (int i = 0; i < kCells; ++i) {
    int x0, x1;
    centralHalf(i * cell, cell, width, &x0, &x1);
    unsigned long sum = 0;
    for (int y = y0; y < y1; ++y) {
      const std::uint8_t* row = luma + static_cast<long>(y) * stride;
      for (int x = x0; x < x1; ++x) sum += row[x];
    }
    const unsigned long count = static_cast<unsigned long>(y1 - y0) * static_cast<unsigned long>(x1 - x0);
    bits[i] = sum >= 128 * count;
  }
  for (int i = 0; i < 4; ++i)
    if (bits[i] != kSyncHead[i] || bits[60 + i] != kSyncTail[i]) return false;
  std::uint32_t drawMs = 0;
  for (int i = 0; i < 32; ++i) drawMs = drawMs << 1 | bits[4 + i];
  std::uint16_t counter = 0;
  for (int i = 0; i < 16; ++i) counter = static_cast<std::uint16_t>(counter << 1 | bits[36 + i]);
  std::uint8_t check = 0;
  for (int i = 0; i < 8; ++i) check = static_cast<std::uint8_t>(check << 1 | bits[52 + i]);
  if (check != checkByte(drawMs, counter)) return false;
  *out = Stamp{drawMs, counter};
  return true;
}

}  // namespace device
