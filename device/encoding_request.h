// The encoding parameters that the device asks the sender for, and their
// wire form: the 112-byte record (28 unsigned 32-bit big-endian words)
// carried by the start-encoding acknowledgement, message type 6.
#pragma once
#include <cstdint>

#include "tdwire.h"

namespace device {

struct EncodingRequest {
  std::uint32_t mode = 3;            // word 0, encoding mode 0..7
  std::uint32_t resolutionCode = 18; // word 1, a code of the resolution table
  std::uint32_t profile = 100;       // word 2, 66 baseline or 100 high
  std::uint32_t frameRate = 15;      // word 3, frames per second (before the divisor)
  std::uint32_t frameRateDivisor = 1;// word 4
  std::uint32_t bitRate = 2000000;   // word 5, bits per second
  std::uint32_t maxPacketSize = 1400;// word 6
};

using ParamsRecord = std::uint8_t[TD_ENC_PARAMS_WIRE_SIZE];

// Words 0 to 6 from the request; every other word is 0.
void buildParamsRecord(const EncodingRequest& request, ParamsRecord out);
// Words 0 to 6 of a record of `length` bytes, exactly as they stand; words
// beyond the end of a short record read as 0.
EncodingRequest parseParamsRecord(const std::uint8_t* record, std::uint32_t length);

}  // namespace device
