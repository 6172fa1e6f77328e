// Reads the test pattern's stamp from the top row of a decoded picture: 64
// cells of width/64 pixels, white for 1 and black for 0, holding sync bits,
// the draw time in milliseconds, a frame counter and a check byte.
#pragma once
#include <cstdint>

namespace device {

struct Stamp {
  std::uint32_t drawMs;   // low 32 bits of the monotonic clock in ms when drawn
  std::uint16_t counter;  // the pattern's frame number
};

// False when the picture carries no valid stamp (a sync cell or the check
// does not match, or the picture is too small to hold one).
bool readStamp(const std::uint8_t* luma, int stride, int width, int height, Stamp* out);

// Luma bits that make up a stamp, for tests: bit i of the 64 cells.
void stampBits(const Stamp& stamp, bool bits[64]);

}  // namespace device
