// Drawing on the test X server: a known picture on the root window, a known
// pointer image, the pointer's position. Each call opens its own short
// connection to $DISPLAY; what it sets stays after it returns.
#pragma once
#include <cstdint>

namespace plat_test {

// The test picture's colour at desktop pixel (x, y), blue, green, red.
// Never black and never pure red, so black fill and the red test pointer
// stand out from it.
inline void PatternBgr(int x, int y, std::uint8_t bgr[3]) {
  bgr[0] = static_cast<std::uint8_t>(x * 3 + y);
  bgr[1] = static_cast<std::uint8_t>(((x ^ y) & 0x7f) | 0x40);
  bgr[2] = static_cast<std::uint8_t>(x + 2 * y + (x >> 4) * 5);
}

// Paints the whole root window with the test picture.
bool PaintPattern();

// Fills a rectangle of the root window with one colour, 0xRRGGBB.
bool FillRect(int x, int y, int width, int height, unsigned long rgb);

// Gives the root window a width x height pointer image with its hot spot at
// (hotX, hotY): opaque pure red when visible, fully transparent otherwise.
bool SetSquareCursor(int width, int height, int hotX, int hotY, bool visible);

// Moves the pointer to (x, y) on the root window.
bool WarpPointer(int x, int y);

}  // namespace plat_test
