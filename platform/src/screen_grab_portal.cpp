// Portal back-end of the screen grab: the portal session and the PipeWire
// stream live on a thread of their own, started by the first grab, so the
// reader never waits for the user's answer or the compositor.
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "pipewire_stream.h"
#include "platform/screen_cast.h"
#include "portal_session.h"

namespace plat {

namespace {

constexpr int kProbeTimeoutMs = 3000;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string ReadToken(const std::string& path) {
  std::ifstream in(path);
  std::string token;
  std::getline(in, token);
  return token;
}

// Through a temporary file beside it, so a crash never leaves half a token.
void WriteToken(const std::string& path, const std::string& token) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  const std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << token << '\n';
    if (!out.flush()) return;
  }
  std::filesystem::rename(temp, path, ec);
}

}  // namespace

const CaptureChoice& ChooseCaptureBackend() {
  static const CaptureChoice choice = [] {
    const std::string forced = Env("TANDEO_CAPTURE");
    if (forced == "x11") return CaptureChoice{CaptureBackend::X11, "TANDEO_CAPTURE=x11"};
    if (forced == "portal") return CaptureChoice{CaptureBackend::Portal, "TANDEO_CAPTURE=portal"};
    const bool wayland = !Env("WAYLAND_DISPLAY").empty() || Env("XDG_SESSION_TYPE") == "wayland";
    if (!wayland) return CaptureChoice{CaptureBackend::X11, "not a Wayland session"};
    if (portal::ScreenCastAnswers(kProbeTimeoutMs)) {
      return CaptureChoice{CaptureBackend::Portal, "Wayland session, the desktop portal answers"};
    }
    return CaptureChoice{CaptureBackend::X11, "Wayland session, but no desktop portal answers"};
  }();
  return choice;
}

std::string ScreenCastTokenFile() {
  // The application's folder for its settings, as it finds it: an exact
  // "appdata" first, then the name in any case (APPDATA).
  std::string base = Env("appdata");
  for (char** e = environ; base.empty() && *e; ++e) {
    if (strncasecmp(*e, "appdata=", 8) == 0) base = *e + 8;
  }
  if (base.empty()) base = Env("XDG_CONFIG_HOME");
  if (base.empty()) base = Env("HOME") + "/.config";
  return base + "/tandeo/settings/screencast-token";
}

struct PortalGrabber::Impl {
  std::thread worker;
  std::atomic<bool> stop{false};
  std::atomic<bool> started{false};

  mutable std::mutex lock;  // guards state, error
  CastState state = CastState::Idle;
  std::string error;
  std::atomic<pw::Stream*> stream{nullptr};  // set once by the worker

  bool holding = false;  // the reader holds a picture of the stream
  std::vector<std::uint8_t> swapped;  // RGB-ordered pictures, made BGR here
  bool haveOne = false;

  void Set(CastState s, const std::string& why = std::string()) {
    std::lock_guard<std::mutex> g(lock);
    state = s;
    error = why;
  }

  void Run() {
    portal::Session session(&stop);
    portal::CastGrant grant;
    std::string why;
    const std::string path = ScreenCastTokenFile();
    portal::Outcome out = session.Open(ReadToken(path), &grant, &why);
    if (out == portal::Outcome::Refused) {
      Set(CastState::Refused, why);
      return;
    }
    if (out != portal::Outcome::Ok) {
      Set(CastState::Failed, out == portal::Outcome::Stopped ? "stopped" : why);
      return;
    }
    if (!grant.restoreToken.empty()) WriteToken(path, grant.restoreToken);

    pw::Stream pipewire;
    if (!pipewire.Start(grant.pipewireFd, grant.nodeId, &why)) {
      Set(CastState::Failed, why);
      return;
    }
    stream.store(&pipewire);
    // The session and the stream stay open until the grabber goes; the
    // reader watches the stream for its end.
    while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stream.store(nullptr);
  }
};

PortalGrabber::PortalGrabber() : impl_(new Impl) {}

PortalGrabber::~PortalGrabber() {
  EndGrab();
  impl_->stop.store(true);
  if (impl_->worker.joinable()) impl_->worker.join();
}

GrabResult PortalGrabber::GrabXrgb(XrgbImage* image) {
  Impl& s = *impl_;
  if (!s.started.exchange(true)) {
    s.Set(CastState::Starting);
    s.worker = std::thread([&s] { s.Run(); });
  }
  EndGrab();
  pw::Stream* stream = s.stream.load();
  pw::View view;
  if (stream) {
    std::string why;
    if (stream->ended(&why)) s.Set(CastState::Failed, why);
  }
  const CastState now = state();
  if (now == CastState::Refused || now == CastState::Failed) return GrabResult::Failed;
  if (!stream || !stream->Acquire(&view)) return GrabResult::NoDisplay;
  s.holding = true;
  if (!s.haveOne) s.Set(CastState::Streaming);
  s.haveOne = true;
  image->pixels = view.pixels;
  image->stride = view.stride;
  image->width = view.width;
  image->height = view.height;
  if (view.swapRedBlue) {
    // Red and blue change places, into memory of our own.
    const std::size_t bytes = static_cast<std::size_t>(view.width) * 4 * view.height;
    if (s.swapped.size() < bytes) s.swapped.resize(bytes);
    for (std::int32_t y = 0; y < view.height; ++y) {
      const std::uint8_t* src = view.pixels + y * view.stride;
      std::uint8_t* dst = s.swapped.data() + static_cast<std::size_t>(y) * view.width * 4;
      for (std::int32_t x = 0; x < view.width; ++x) {
        dst[4 * x] = src[4 * x + 2];
        dst[4 * x + 1] = src[4 * x + 1];
        dst[4 * x + 2] = src[4 * x];
        dst[4 * x + 3] = 0;
      }
    }
    EndGrab();
    image->pixels = s.swapped.data();
    image->stride = static_cast<std::int64_t>(view.width) * 4;
  }
  return GrabResult::Ok;
}

void PortalGrabber::EndGrab() {
  Impl& s = *impl_;
  if (!s.holding) return;
  s.holding = false;
  if (pw::Stream* stream = s.stream.load()) stream->Release();
}

CastState PortalGrabber::state() const {
  std::lock_guard<std::mutex> g(impl_->lock);
  return impl_->state;
}

std::string PortalGrabber::error() const {
  std::lock_guard<std::mutex> g(impl_->lock);
  return impl_->error;
}

std::uint64_t PortalGrabber::picturesReceived() const {
  pw::Stream* stream = impl_->stream.load();
  return stream ? stream->pictures() : 0;
}

}  // namespace plat
