// The screen cast where there is no desktop portal (Windows): the screen is
// grabbed through ScreenGrabber, and a portal grabber never starts.
#include <cstdlib>

#include "platform/screen_cast.h"

namespace plat {

const CaptureChoice& ChooseCaptureBackend() {
  static const CaptureChoice choice{CaptureBackend::Gdi, "Windows: GDI"};
  return choice;
}

// Kept beside the recent addresses, as elsewhere, though nothing writes it.
std::string ScreenCastTokenFile() {
  const char* base = std::getenv("APPDATA");
  return std::string(base ? base : ".") + "/tandeo/settings/screencast-token";
}

struct PortalGrabber::Impl {};

PortalGrabber::PortalGrabber() : impl_(new Impl) {}
PortalGrabber::~PortalGrabber() = default;

GrabResult PortalGrabber::GrabXrgb(XrgbImage*) { return GrabResult::Failed; }
void PortalGrabber::EndGrab() {}
CastState PortalGrabber::state() const { return CastState::Failed; }
std::string PortalGrabber::error() const { return "no desktop portal on this system"; }
std::uint64_t PortalGrabber::picturesReceived() const { return 0; }

}  // namespace plat
