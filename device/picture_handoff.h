// Hands the latest decoded picture from the device thread to a viewer on
// another thread. The device thread never waits for the viewer: the lock is
// held only while one picture is copied in or out of buffers allocated once,
// for the largest picture the device can ask for.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>

#include "device/decoded_frame.h"

namespace device {

// An I420 picture in buffers of a fixed capacity, rows packed.
struct HeldPicture {
  explicit HeldPicture(std::size_t capacityPixels);
  int width = 0, height = 0;
  std::unique_ptr<std::uint8_t[]> y, u, v;  // width x height, and half that each way
  std::size_t capacity;                     // pixels
  // Copies the planes in; false (and nothing copied) when they do not fit.
  bool copyFrom(int width, int height, const std::uint8_t* y, int yStride, const std::uint8_t* u,
                const std::uint8_t* v, int uvStride);
};

class PictureHandoff {
 public:
  // Room for any picture of the resolution table.
  PictureHandoff();

  // Device thread: the picture replaces the one held; it is dropped when
  // larger than any size of the table.
  void put(const DecodedFrame& frame);
  // Viewer: copies the latest picture into *out when it is newer than
  // *serial, and updates *serial; false when there is nothing new.
  bool take(HeldPicture* out, std::uint64_t* serial);

 private:
  std::mutex lock_;
  HeldPicture latest_;       // under lock_
  std::uint64_t serial_ = 0; // under lock_; 0: no picture yet
};

// Pixels of the largest picture in the resolution table.
std::size_t largestPicturePixels();

}  // namespace device
