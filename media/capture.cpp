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

CCapture::CCapture(plat::GrabMethod method, Route route)
    : grabber_(kMaxPixels, method), portal_(MakePortalGrabber()), route_(route) {
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

bool CCapture::GrabArea(plat::ScreenRect* out) {
  CaptureRect rect = area();
  if (rect.right <= rect.left || rect.bottom <= rect.top) return false;
  // An area reaching left of or above the screen is grabbed from the
  // screen's edge, at the size that remains (kept a multiple of 4).
  std::int32_t left = std::max(rect.left, 0);
  std::int32_t top = std::max(rect.top, 0);
  std::int32_t width = static_cast<std::int32_t>(static_cast<std::uint32_t>(rect.right - left) & ~3u);
  std::int32_t height = static_cast<std::int32_t>(static_cast<std::uint32_t>(rect.bottom - top) & ~3u);
  if (width <= 0 || height <= 0) return false;
  *out = plat::ScreenRect{left, top, left + width, top + height};
  return true;
}

plat::ScreenChange CCapture::Look(const plat::ScreenRect& grab) {
  if (!fullHeld_) return plat::ScreenChange::Whole;
  plat::ScreenRect dirty{};
  const plat::ScreenChange seen = grabber_.Changes(grab, &dirty);
  // What was seen stays owed until a grab takes it: the grabber has
  // forgotten it once it told.
  if (seen == plat::ScreenChange::Whole || pending_ == plat::ScreenChange::Whole) {
    pending_ = plat::ScreenChange::Whole;
  } else if (seen == plat::ScreenChange::Part) {
    pendingBox_ = pending_ == plat::ScreenChange::Part
                      ? plat::ScreenRect{std::min(pendingBox_.left, dirty.left), std::min(pendingBox_.top, dirty.top),
                                         std::max(pendingBox_.right, dirty.right),
                                         std::max(pendingBox_.bottom, dirty.bottom)}
                      : dirty;
    pending_ = plat::ScreenChange::Part;
  }
  return pending_;
}

bool CCapture::WaitForChange(std::int64_t untilUs) {
  plat::ScreenRect grab;
  if (!GrabArea(&grab)) return false;
  for (;;) {
    if (Look(grab) != plat::ScreenChange::Unchanged) return true;
    if (!grabber_.WaitForDrawing(untilUs)) return false;
  }
}

void CCapture::CaptureFrame() {
  if (portal_) {
    CapturePortalFrame();
    return;
  }
  plat::ScreenRect grab;
  if (!GrabArea(&grab)) return;
  const std::int32_t width = grab.right - grab.left;
  const std::int32_t height = grab.bottom - grab.top;

  // Nothing drawn on the area since the last grab (a still screen): the
  // full-size planes still hold it, so grabbing and converting are skipped.
  // Drawing in a band of it: only those rows are grabbed and converted.
  const plat::ScreenChange change = Look(grab);
  const bool still = change == plat::ScreenChange::Unchanged;
  if (!still) {
    fullHeld_ = false;
    plat::GrabResult result = plat::GrabResult::Unsuitable;
    if (route_ == Route::Direct && width <= kDirectMaxWidth) {
      // Rows [y0, y1) of the area, in whole row pairs for the chroma.
      std::int32_t y0 = 0, y1 = height;
      if (change == plat::ScreenChange::Part && grab_.width == width && grab_.height == height) {
        y0 = (pendingBox_.top - grab.top) & ~1;
        y1 = std::min(height, (pendingBox_.bottom - grab.top + 1) & ~1);
        if (2 * (y1 - y0) > height) y0 = 0, y1 = height;  // most of it: as cheap whole
      }
      plat::XrgbImage image;
      result = grabber_.GrabXrgb(plat::ScreenRect{grab.left, grab.top + y0, grab.right, grab.top + y1}, &image);
      if (result == plat::GrabResult::Ok) {
        ConvertXrgb(image, y0);
        grab_ = Size{width, height};
        ++grabs_;
        if (y1 - y0 < height) {
          grabber_.Completed(grab);
          ++bandGrabs_;
        }
      }
    }
    if (result == plat::GrabResult::Unsuitable) {
      result = grabber_.Grab(grab);
      if (result == plat::GrabResult::Ok && !ConvertPacked()) return;
      if (result == plat::GrabResult::Ok) ++grabs_;
    }
    if (result == plat::GrabResult::NoDisplay) {
      if (!noDisplayLogged.exchange(true)) {
        qInfo() << "CCapture::CaptureFrame" << __LINE__ << "no display to capture, frames keep their last picture";
      }
      return;
    }
    if (result != plat::GrabResult::Ok) return;
    fullHeld_ = true;
    pending_ = plat::ScreenChange::Unchanged;
  }
  ScaleGrab(still);
}

// Scales the full-size planes to the output size; a picture already scaled
// to that size (still is true) is left as it is.
void CCapture::ScaleGrab(bool still) {
  const std::int32_t w = grab_.width;
  const std::int32_t h = grab_.height;

  Size out = outputSize();
  if (out.width <= 0 || out.height <= 0 || out.width > kMaxOutputWidth ||
      static_cast<std::int64_t>(out.width) * out.height > kMaxPixels) {
    return;  // no size the scaled planes can hold: they keep the last frame
  }
  if (still && out.width == frame_.width && out.height == frame_.height) return;  // the planes hold it already
  ScaleI420(&scaler_, w, h, w, w / 2, fullY_, fullU_, fullV_, out.width, out.height, out.width, out.width / 2,
            scaledY_, scaledU_, scaledV_);
  frame_ = out;
  ++pictures_;
}

// The server's rows, top-down, packed a band at a time into a buffer that
// stays in cache and converted from there: the same bytes as converting the
// whole packed bitmap, without writing and reading it back through memory.
void CCapture::ConvertXrgb(const plat::XrgbImage& image, std::int32_t firstRow) {
  const std::int32_t w = image.width;
  const std::int32_t h = image.height;  // even: bands keep whole row pairs
  std::uint8_t* const planeY = fullY_ + static_cast<std::int64_t>(firstRow) * w;
  std::uint8_t* const planeU = fullU_ + static_cast<std::int64_t>(firstRow / 2) * (w / 2);
  std::uint8_t* const planeV = fullV_ + static_cast<std::int64_t>(firstRow / 2) * (w / 2);
  for (std::int32_t y = 0; y < h; y += kDirectRows) {
    const std::int32_t rows = std::min(kDirectRows, h - y);
    for (std::int32_t r = 0; r < rows; ++r) {
      plat::PackXrgbRow(image.pixels + (y + r) * image.stride, rowBand_ + static_cast<std::int64_t>(r) * 3 * w, w);
    }
    Rgb24ToI420(rowBand_, planeY + static_cast<std::int64_t>(y) * w, planeU + static_cast<std::int64_t>(y / 2) * (w / 2),
                planeV + static_cast<std::int64_t>(y / 2) * (w / 2), w, rows, w, w / 2, 3 * w, false);
  }
}

bool CCapture::ConvertPacked() {
  const std::uint8_t* packed = grabber_.packed();
  plat::PackedInfo info = plat::ReadPackedHeader(packed);
  if (info.headerSize != plat::kPackedHeaderSize || info.bitCount != 24) return false;
  const std::int32_t w = info.width;
  const std::int32_t h = info.height;
  // The packed rows are bottom-up, the planes top-down.
  Rgb24ToI420(packed + plat::kPackedHeaderSize, fullY_, fullU_, fullV_, w, h, w, w / 2, info.rowBytes, true);
  grab_ = Size{w, h};
  return true;
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
