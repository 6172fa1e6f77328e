// The screen-capture object: one per session. The GUI thread sets the
// capture area, the session thread the output size, the codec thread grabs.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/sync.h"

// A screen rectangle; right and bottom are exclusive.
struct CaptureRect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};

class CCapture {
 public:
  CCapture();
  virtual ~CCapture();
  CCapture(const CCapture&) = delete;
  CCapture& operator=(const CCapture&) = delete;

  // Grabs the area once and leaves the scaled picture in the output planes;
  // on any failure the planes keep the previous picture. Codec thread only.
  void CaptureFrame();

  CaptureRect area();

  // Output size; the session sets it before the codec thread starts and on
  // each parameter update.
  void setOutputSize(std::int32_t width, std::int32_t height) {
    dstWidth_ = width;
    dstHeight_ = height;
  }
  // The scaled picture the encoder reads in place; addresses never change.
  const std::uint8_t* scaledY() const { return scaled_.get(); }
  const std::uint8_t* scaledU() const { return scaled_.get() + kLumaBytes; }
  const std::uint8_t* scaledV() const { return scaled_.get() + kLumaBytes + kChromaBytes; }

  // Size of the scaled output, written by the session before the codec
  // thread starts and on each parameter update.
  std::atomic<std::int32_t> dstWidth_{0};
  std::atomic<std::int32_t> dstHeight_{0};

 private:
  friend void SetCaptureArea(CCapture* capture, const CaptureRect* area);

  static constexpr std::size_t kLumaBytes = 8388608;
  static constexpr std::size_t kChromaBytes = 2097152;

  plat::CriticalSection areaLock_;
  CaptureRect area_{0, 0, 0, 0};
  std::unique_ptr<std::uint8_t[]> scaled_;
};

// Rounds width and height down to multiples of 4 and stores the area.
// A free function so that it can travel beside the object as a pointer.
void SetCaptureArea(CCapture* capture, const CaptureRect* area);
