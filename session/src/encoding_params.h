// The encoding parameters the device asks for.
#pragma once
#include <cstdint>

struct EncodingParams {
  std::int32_t encodingMode = 3;
  std::int32_t resolutionCode = 18;
  std::int32_t profile = 64;
  std::int32_t frameRate = 5;
  std::int32_t frameRateDivisor = 1;
  std::int32_t bitRate = 704000;
  std::int32_t maxPacketSize = 1400;
  std::int32_t more[39] = {};  // fields 7 to 45
};
static_assert(sizeof(EncodingParams) == 46 * 4, "46 signed 32-bit fields");
