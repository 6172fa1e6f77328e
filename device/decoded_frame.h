// A picture as it leaves the device's decoder, handed to observers.
#pragma once
#include <cstdint>
#include <functional>

namespace device {

struct DecodedFrame {
  int width, height;
  const std::uint8_t* y;
  const std::uint8_t* u;
  const std::uint8_t* v;
  int yStride, uvStride;
  bool idr;                   // its access unit held an IDR slice
  std::uint32_t rtpTimestamp;
  std::int64_t decodedUs;     // plat::monotonicUs() when it left the decoder
  int stampCounter;           // the test pattern's frame counter; -1 when no stamp was read
  std::uint32_t stampMs;      // the stamp's draw time (low 32 bits of monotonic ms)
};

// Called on the device thread for every decoded picture; the planes are
// valid only during the call.
using PictureObserver = std::function<void(const DecodedFrame&)>;

}  // namespace device
