// The desktop portal's screen cast: how a Wayland desktop hands out its
// screen. The portal asks the user which monitor to share (or uses the
// permission kept from an earlier share), then delivers the monitor's
// pictures as a PipeWire stream; pictures come only when the screen changes.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/screen_grab.h"

namespace plat {

enum class CaptureBackend {
  X11,     // the X server's root window
  Portal,  // org.freedesktop.portal.ScreenCast and PipeWire
  Gdi,     // Windows: the screen through GDI (ScreenGrabber); no portal there
};

struct CaptureChoice {
  CaptureBackend backend;
  // Why, in a few words, for the log line that names the back-end.
  std::string reason;
};

// Chooses the back-end once per process and keeps the answer:
// TANDEO_CAPTURE=x11 or =portal decides; otherwise the portal when the
// session is a Wayland one (WAYLAND_DISPLAY set or XDG_SESSION_TYPE=wayland)
// and the portal's ScreenCast interface answers on the session bus within
// a few seconds; X11 otherwise. On Windows always Gdi.
const CaptureChoice& ChooseCaptureBackend();

// The file that keeps the portal's restore token, so that later shares
// start without asking the user again: "screencast-token" beside the
// application's recent addresses, in tandeo/settings under the folder that
// the "appdata" variable names (any case), else $XDG_CONFIG_HOME, else
// ~/.config.
std::string ScreenCastTokenFile();

// Where one screen cast stands.
enum class CastState {
  Idle,       // not asked for yet
  Starting,   // talking to the portal, or waiting for the first picture
  Streaming,  // pictures arrive
  Refused,    // the user (or the portal's policy) declined the permission
  Failed,     // no portal, the portal failed, or the stream ended
};

// One screen cast through the portal. On Windows, where there is none, it
// never starts: grabs give Failed and state() is Failed. Its own thread talks to the portal
// and the stream's thread receives the pictures, so the caller never waits
// for the user's answer: until the first picture is there, grabs report
// NoDisplay. One grabber serves one reading thread. The newest picture is
// kept, so a grab between two pictures of the stream gives the last one
// again. Pictures are read where the stream delivers them; only RGB-ordered
// ones are copied, into memory allocated when their size grows.
class PortalGrabber {
 public:
  PortalGrabber();
  ~PortalGrabber();  // closes the portal session and joins its threads
  PortalGrabber(const PortalGrabber&) = delete;
  PortalGrabber& operator=(const PortalGrabber&) = delete;

  // Starts the cast on the first call. Ok with *image showing the whole
  // monitor, 32-bit pixels with the bytes blue, green, red, unused, and
  // the pointer drawn in where the portal can embed it, read in place in
  // the stream's buffer: valid until EndGrab (or the next grab), which the
  // reader calls as soon as it is done, since the compositor cannot reuse
  // a buffer meanwhile. NoDisplay while the cast is starting; Failed once
  // it was refused or failed (state() tells which).
  GrabResult GrabXrgb(XrgbImage* image);
  void EndGrab();

  CastState state() const;
  // What went wrong, in words, once state() is Refused or Failed.
  std::string error() const;
  // How many pictures the stream has delivered so far.
  std::uint64_t picturesReceived() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
