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

// Field i (0 to 45) of the record, by its place.
inline std::int32_t& EncodingParamsField(EncodingParams& p, int i) {
  switch (i) {
    case 0: return p.encodingMode;
    case 1: return p.resolutionCode;
    case 2: return p.profile;
    case 3: return p.frameRate;
    case 4: return p.frameRateDivisor;
    case 5: return p.bitRate;
    case 6: return p.maxPacketSize;
    default: return p.more[i - 7];
  }
}
