#include "media/capture.h"

#include <QDebug>
#include <cstring>
#include <mutex>

CCapture::CCapture() : scaled_(new std::uint8_t[kLumaBytes + 2 * kChromaBytes]) {
  std::memset(scaled_.get(), 128, kLumaBytes + 2 * kChromaBytes);
}
CCapture::~CCapture() = default;

CaptureRect CCapture::area() {
  std::lock_guard<plat::CriticalSection> g(areaLock_);
  return area_;
}

void CCapture::CaptureFrame() {}

void SetCaptureArea(CCapture* capture, const CaptureRect* area) {
  qInfo() << "SetCaptureArea" << __LINE__ << area->right << " " << area->bottom;
  // Clearing the two low bits rounds toward minus infinity, so a negative
  // extent stays negative and the area stays empty.
  std::int32_t width = static_cast<std::int32_t>(static_cast<std::uint32_t>(area->right - area->left) & ~3u);
  std::int32_t height = static_cast<std::int32_t>(static_cast<std::uint32_t>(area->bottom - area->top) & ~3u);
  std::lock_guard<plat::CriticalSection> g(capture->areaLock_);
  capture->area_ = {area->left, area->top, area->left + width, area->top + height};
}
