#include "media/capture.h"

#include <QDebug>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

// Said once per process, not once per frame.
std::atomic<bool> noDisplayLogged{false};

}  // namespace

CCapture::CCapture(plat::GrabMethod method) : grabber_(kMaxPixels, method) {
  // The scaled planes start black rather than with whatever the memory held,
  // in case the first frames find nothing to grab.
  std::memset(scaledY_, 16, sizeof scaledY_);
  std::memset(scaledU_, 128, sizeof scaledU_);
  std::memset(scaledV_, 128, sizeof scaledV_);
}

CCapture::~CCapture() = default;

CaptureRect CCapture::area() {
  std::lock_guard<plat::CriticalSection> g(areaLock_);
  return area_;
}

void CCapture::setOutputSize(std::int32_t width, std::int32_t height) {
  std::lock_guard<plat::CriticalSection> g(sizeLock_);
  dstWidth_ = width;
  dstHeight_ = height;
}

CCapture::Size CCapture::outputSize() {
  std::lock_guard<plat::CriticalSection> g(sizeLock_);
  return Size{dstWidth_, dstHeight_};
}

void CCapture::CaptureFrame() {
  CaptureRect rect = area();
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;

  // An area reaching left of or above the screen is grabbed from the
  // screen's edge, at the size that remains (kept a multiple of 4).
  std::int32_t left = std::max(rect.left, 0);
  std::int32_t top = std::max(rect.top, 0);
  std::int32_t width = static_cast<std::int32_t>(static_cast<std::uint32_t>(rect.right - left) & ~3u);
  std::int32_t height = static_cast<std::int32_t>(static_cast<std::uint32_t>(rect.bottom - top) & ~3u);
  if (width <= 0 || height <= 0) return;

  switch (grabber_.Grab(plat::ScreenRect{left, top, left + width, top + height})) {
    case plat::GrabResult::Ok:
      break;
    case plat::GrabResult::NoDisplay:
      if (!noDisplayLogged.exchange(true)) {
        qInfo() << "CCapture::CaptureFrame" << __LINE__ << "no display to capture, frames keep their last picture";
      }
      return;
    case plat::GrabResult::Failed:
      return;
  }

  const std::uint8_t* packed = grabber_.packed();
  plat::PackedInfo info = plat::ReadPackedHeader(packed);
  if (info.headerSize != plat::kPackedHeaderSize || info.bitCount != 24) return;
  const std::int32_t w = info.width;
  const std::int32_t h = info.height;
  // The packed rows are bottom-up, the planes top-down.
  Rgb24ToI420(packed + plat::kPackedHeaderSize, fullY_, fullU_, fullV_, w, h, w, w / 2, info.rowBytes, true);
  grab_ = Size{w, h};

  Size out = outputSize();
  if (out.width <= 0 || out.height <= 0 || out.width > kMaxOutputWidth ||
      static_cast<std::int64_t>(out.width) * out.height > kMaxPixels) {
    return;  // no size the scaled planes can hold: they keep the last frame
  }
  ScaleI420(&scaler_, w, h, w, w / 2, fullY_, fullU_, fullV_, out.width, out.height, out.width, out.width / 2,
            scaledY_, scaledU_, scaledV_);
  frame_ = out;
}

void SetCaptureArea(CCapture* capture, const CaptureRect* area) {
  qInfo() << "SetCaptureArea" << __LINE__ << area->right << " " << area->bottom;
  // Clearing the two low bits rounds toward minus infinity, so a negative
  // extent stays negative and the area stays empty. Worked in 64 bits so
  // that no pair of 32-bit corners can overflow.
  std::int64_t width = (static_cast<std::int64_t>(area->right) - area->left) & ~std::int64_t{3};
  std::int64_t height = (static_cast<std::int64_t>(area->bottom) - area->top) & ~std::int64_t{3};
  if (width > 0 && height > 0 && width > CCapture::kMaxPixels / height) {
    // More than the full-size planes hold: keep the top-left part that fits.
    width = std::min<std::int64_t>(width, CCapture::kMaxPixels / 4);
    height = std::min<std::int64_t>(height, (CCapture::kMaxPixels / width) & ~std::int64_t{3});
    qInfo() << "SetCaptureArea" << __LINE__ << "area larger than" << CCapture::kMaxPixels << "pixels, cut to"
            << width << "x" << height;
  }
  // Corners stay representable: an extent that would carry the far edge
  // out of the 32-bit range leaves the area empty.
  std::int64_t right = area->left + width;
  std::int64_t bottom = area->top + height;
  if (right > INT32_MAX || right < INT32_MIN || bottom > INT32_MAX || bottom < INT32_MIN) {
    width = 0;
    height = 0;
  }
  std::lock_guard<plat::CriticalSection> g(capture->areaLock_);
  capture->area_ = {area->left, area->top, static_cast<std::int32_t>(area->left + width),
                    static_cast<std::int32_t>(area->top + height)};
}
