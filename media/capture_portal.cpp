// The capture object on a Wayland desktop: the picture comes from the
// desktop portal's screen cast rather than the X server.
#include <QDebug>
#include <algorithm>
#include <atomic>

#include "media/capture.h"

std::unique_ptr<plat::PortalGrabber> CCapture::MakePortalGrabber() {
  const plat::CaptureChoice& choice = plat::ChooseCaptureBackend();
  // Said once per process, when the first capture object is made.
  static std::atomic<bool> said{false};
  const bool portal = choice.backend == plat::CaptureBackend::Portal;
  if (!said.exchange(true)) {
    const char* through = portal ? "the desktop portal"
                          : choice.backend == plat::CaptureBackend::Gdi ? "GDI"
                                                                        : "X11";
    qInfo() << "CCapture::CCapture" << __LINE__ << "screen capture through" << through << "("
            << choice.reason.c_str() << ")";
  }
  return portal ? std::make_unique<plat::PortalGrabber>() : nullptr;
}

void CCapture::CapturePortalFrame() {
  // Counted before the grab: a picture arriving meanwhile counts as not yet
  // converted, whichever of the two the grab hands out.
  const std::uint64_t received = portal_->picturesReceived();
  plat::XrgbImage image;
  const plat::GrabResult result = portal_->GrabXrgb(&image);
  if (result == plat::GrabResult::Failed) {
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) {
      qInfo() << "CCapture::CaptureFrame" << __LINE__ << "screen cast ended:" << portal_->error().c_str();
    }
    return;
  }
  if (result != plat::GrabResult::Ok) return;  // still starting: the planes keep their picture
  // The monitor's whole picture, cut to what the planes hold; a change of
  // the stream's size is followed on the next picture.
  std::int32_t w = std::min(image.width, kDirectMaxWidth) & ~3;
  std::int32_t h = image.height & ~3;
  if (w > 0 && static_cast<std::int64_t>(w) * h > kMaxPixels) h = static_cast<std::int32_t>(kMaxPixels / w) & ~3;
  if (w <= 0 || h <= 0) {
    portal_->EndGrab();
    return;
  }
  // The cast sends pictures only when the screen changes: the one converted
  // last is still in the planes.
  const bool still = received == portalPictures_ && grab_.width == w && grab_.height == h;
  if (!still) {
    image.width = w;
    image.height = h;
    ConvertXrgb(image, 0);
    grab_ = Size{w, h};
    portalPictures_ = received;
  }
  portal_->EndGrab();  // the picture goes back to the compositor
  ScaleGrab(still);
}

bool CCapture::castRefused(std::string* why) const {
  if (!portal_) return false;
  const plat::CastState state = portal_->state();
  if (state != plat::CastState::Refused && state != plat::CastState::Failed) return false;
  if (why) *why = portal_->error();
  return true;
}

void CCapture::EndCast() {
  if (portal_) portal_ = std::make_unique<plat::PortalGrabber>();
}
