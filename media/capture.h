// The screen-capture object: one per session. The GUI thread sets the
// capture area, the session thread the output size, the codec thread grabs,
// converts and scales, and then reads the scaled planes in place.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "media/scaler.h"
#include "platform/screen_cast.h"
#include "platform/screen_grab.h"
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
  // Capacities of the fixed planes.
  static constexpr std::int64_t kMaxPixels = 8388608;  // area and output, width x height
  static constexpr std::int32_t kMaxOutputWidth = kScalerMaxLineWidth;

  struct Size {
    std::int32_t width;
    std::int32_t height;
  };

  // How a grabbed frame reaches the conversion: straight from the server's
  // pixels, a band of rows at a time through a small buffer, wherever the area
  // lies wholly on the screen (Direct, the default); or always through the
  // whole packed bitmap (Packed). Both give the same planes.
  enum class Route { Direct, Packed };

  explicit CCapture(plat::GrabMethod method = plat::GrabMethod::Auto, Route route = Route::Direct);
  virtual ~CCapture();
  CCapture(const CCapture&) = delete;
  CCapture& operator=(const CCapture&) = delete;

  // Grabs the area with the pointer drawn in, converts it to I420 at full
  // size and scales it to the output size. When it returns, the scaled
  // planes hold the new frame, or still the previous one if there was
  // nothing to grab (empty area, no display, failed grab, no valid output
  // size). When the display reports nothing drawn on the area since the
  // last grab, the planes are kept as they are and nothing is grabbed.
  // Codec thread only.
  void CaptureFrame();

  // On a Wayland desktop the desktop portal's screen cast replaces the X
  // grab (chosen once per process): the monitor the user granted is the
  // area, whatever SetCaptureArea said. True, with *why, once the user or
  // the portal declined, or the cast failed; sharing cannot go on.
  bool castRefused(std::string* why) const;
  // Ends the screen cast, if one runs, so that the next grab asks the
  // portal anew (with the kept permission). Only while no thread grabs.
  void EndCast();

  // Waits until something is drawn on the area since the last grab, or
  // until the monotonic clock reaches untilUs. True when there is a change
  // for the next CaptureFrame to take (at once when nothing is kept yet);
  // false on time-out or where drawing cannot be seen. A moving pointer
  // counts as drawing.
  bool WaitForChange(std::int64_t untilUs);

  // Grabs made so far (frames whose screen had not changed take none), and
  // how many of them took only the band of rows that had changed.
  std::int64_t grabCount() const { return grabs_; }
  std::int64_t bandGrabCount() const { return bandGrabs_; }

  CaptureRect area();

  // Output size, set by the session before the codec thread starts and on
  // each parameter update. Both values change together, so a frame is never
  // scaled to the width of one size and the height of another.
  void setOutputSize(std::int32_t width, std::int32_t height);
  Size outputSize();

  // The scaled picture, read in place by the codec thread after
  // CaptureFrame. Addresses never change; frameSize() is the size the last
  // frame was scaled to (0 x 0 before the first), and the strides follow it.
  const std::uint8_t* scaledY() const { return scaledY_; }
  const std::uint8_t* scaledU() const { return scaledU_; }
  const std::uint8_t* scaledV() const { return scaledV_; }
  Size frameSize() const { return frame_; }
  // Rises each time the scaled planes get a new picture.
  std::int64_t pictureSerial() const { return pictures_; }
  std::int32_t scaledStrideY() const { return frame_.width; }
  std::int32_t scaledStrideUV() const { return frame_.width / 2; }

  // The full-size picture of the last grab, row stride = its width (and
  // half of it for chroma).
  const std::uint8_t* fullY() const { return fullY_; }
  const std::uint8_t* fullU() const { return fullU_; }
  const std::uint8_t* fullV() const { return fullV_; }
  Size grabSize() const { return grab_; }

 private:
  friend void SetCaptureArea(CCapture* capture, const CaptureRect* area);
  static constexpr std::int32_t kDirectMaxWidth = 4096;
  static constexpr std::int32_t kDirectRows = 16;  // rows packed per conversion call

  // capture_portal.cpp: the portal's grabber when the back-end chosen for
  // this process is the portal, else null.
  static std::unique_ptr<plat::PortalGrabber> MakePortalGrabber();
  void CapturePortalFrame();
  void ScaleGrab(bool still);
  bool GrabArea(plat::ScreenRect* out);
  plat::ScreenChange Look(const plat::ScreenRect& grab);
  void ConvertXrgb(const plat::XrgbImage& image, std::int32_t firstRow);
  bool ConvertPacked();

  ScalerContext scaler_;
  plat::CriticalSection areaLock_;
  CaptureRect area_{0, 0, 0, 0};
  plat::CriticalSection sizeLock_;
  std::int32_t dstWidth_ = 0;
  std::int32_t dstHeight_ = 0;
  plat::ScreenGrabber grabber_;
  std::unique_ptr<plat::PortalGrabber> portal_;  // null: the X grab
  std::uint64_t portalPictures_ = 0;             // the cast's pictures converted so far
  const Route route_;
  Size grab_{0, 0};
  Size frame_{0, 0};
  bool fullHeld_ = false;  // the full-size planes hold the grabber's last good grab
  // Drawing seen since that grab and not yet grabbed: none, a box, or all.
  plat::ScreenChange pending_ = plat::ScreenChange::Unchanged;
  plat::ScreenRect pendingBox_{0, 0, 0, 0};
  std::int64_t grabs_ = 0;
  std::int64_t bandGrabs_ = 0;
  std::int64_t pictures_ = 0;

  alignas(64) std::uint8_t fullY_[kMaxPixels];
  alignas(64) std::uint8_t fullU_[kMaxPixels / 4];
  alignas(64) std::uint8_t fullV_[kMaxPixels / 4];
  alignas(64) std::uint8_t scaledY_[kMaxPixels];
  alignas(64) std::uint8_t scaledU_[kMaxPixels / 4];
  alignas(64) std::uint8_t scaledV_[kMaxPixels / 4];
  alignas(64) std::uint8_t rowBand_[kDirectRows * 3 * kDirectMaxWidth];  // a band of packed rows
};

// Rounds width and height down to multiples of 4 and stores the area. An
// area larger than the planes hold is cut to fit, keeping its top-left
// corner. A free function so that it can travel beside the object as a
// pointer.
void SetCaptureArea(CCapture* capture, const CaptureRect* area);
