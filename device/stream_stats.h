// What the device has received and decoded, cumulative since it started.
#pragma once
#include <cstdint>

#include "device/decoded_frame.h"

namespace device {

struct StreamStats {
  std::uint64_t packets, bytes;  // media messages taken and their RTP bytes
  std::uint64_t pictures;        // access units completed by a marker
  std::uint64_t decoded;         // pictures out of the decoder
  std::uint64_t sequenceGaps;    // breaks in the RTP sequence numbers
  std::uint64_t idrPictures;     // access units that held an IDR slice
  std::uint64_t decodeErrors;
  std::uint64_t stamps;          // decoded pictures whose stamp was read
  int width, height;             // the last decoded picture
  double latencyMedianMs, latencyP95Ms;  // over every stamped picture, taken once a second
                                         // and when a stream ends; 0 when none
};

}  // namespace device
