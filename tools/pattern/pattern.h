// The test pattern: smooth moving content, drawn deterministically from a
// frame counter and the picture size, under a stamp row that carries the
// counter and the draw time, so that a receiver can tell which frame a
// decoded picture shows, render the picture it should look like, and time
// its way from the screen.
//
// Stamp row, for a picture W wide: cell size c = W / 64 (real), rows
// y < c, 64 cells of c pixels, white for 1 and black for 0: sync 1,0,1,0;
// 32 bits of the draw time (low 32 bits of the monotonic clock in ms), most
// significant first; the 16-bit frame counter; an 8-bit check (sum of the
// six stamp and counter bytes, big-endian, xor 0xA5); sync 0,1,0,1.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pattern {

constexpr int kStampCells = 64;

struct Stamp {
  std::uint32_t ms = 0;        // draw time, monotonic milliseconds (low 32 bits)
  std::uint16_t counter = 0;   // frame number, wrapping
};

// The check byte of a stamp.
std::uint8_t stampCheck(const Stamp& stamp);
// The 64 cell values of a stamp, sync cells included.
void stampBits(const Stamp& stamp, bool bits[kStampCells]);
// Rows of a picture W wide that the stamp row covers: every y with y < W / 64.
int stampRows(int width);

// Renders pictures of 32-bit pixels, bytes blue, green, red, unused (the X
// server's 24-bit TrueColor layout). Keeps its per-size tables, so one
// renderer per drawing thread; rendering allocates only when the size grows.
class Renderer {
 public:
  // The content of frame `counter` at width x height into every row,
  // stamp rows included (drawStamp overwrites those).
  void render(std::uint16_t counter, int width, int height, std::uint8_t* bgrx, std::ptrdiff_t stride);

 private:
  // Per-column and per-row terms of the background, one per colour, in
  // 1/256 steps; the bar's opacity per column.
  std::vector<std::int32_t> colB_, colG_, colR_, rowB_, rowG_, rowR_;
  std::vector<float> barAlpha_;
};

// Adds grain to a rendered picture: a fine noise, new in every frame, as a
// video or a camera picture has. An encoder cannot predict it, so such a
// picture costs every bit the encoder may spend.
void addGrain(std::uint16_t counter, int width, int height, std::uint8_t* bgrx, std::ptrdiff_t stride);

// Overwrites the stamp row of a picture `width` wide.
void drawStamp(const Stamp& stamp, int width, std::uint8_t* bgrx, std::ptrdiff_t stride);

// Reads the stamp of a luma plane: the average of the central half of each
// cell against 128. False when a sync cell or the check does not match.
bool readStamp(const std::uint8_t* luma, std::ptrdiff_t stride, int width, int height, Stamp* out);

// Luma of 32-bit pixels as the sender converts them:
// Y = min(255, ((13 B + 65 G + 33 R) >> 7) + 16).
void bgrxToLuma(const std::uint8_t* bgrx, std::ptrdiff_t bgrxStride, int width, int height, std::uint8_t* luma,
                std::ptrdiff_t lumaStride);

// Peak signal-to-noise ratio in dB of two luma planes over rows
// [rowFrom, rowTo) and columns [0, width); 99 when they are equal.
double lumaPsnr(const std::uint8_t* a, std::ptrdiff_t strideA, const std::uint8_t* b, std::ptrdiff_t strideB,
                int width, int rowFrom, int rowTo);

}  // namespace pattern
