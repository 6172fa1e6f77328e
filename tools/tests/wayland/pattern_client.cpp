// A small Wayland client for the tests: shows the test pattern full-screen.
// Usage: wl-pattern-client [--counter N] [--fps F] [--still] [--seconds S]
// With --fps the pattern moves (its counter steps F times a second), or with
// --still shows frame N again F times a second (new pictures of the same
// content, as a blinking caret or a clock gives a real screen); without
// --fps it shows frame N once. Prints "ready WxH" once the first picture is on
// the screen, and ends after S seconds (default 120) or on SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pattern.h"
#include "xdg-shell-client-protocol.h"

namespace {

volatile std::sig_atomic_t quit = 0;

struct Buffer {
  wl_buffer* buffer = nullptr;
  std::uint8_t* pixels = nullptr;
  bool busy = false;
};

struct App {
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  xdg_wm_base* wm = nullptr;
  wl_surface* surface = nullptr;
  xdg_surface* xsurface = nullptr;
  xdg_toplevel* toplevel = nullptr;
  int width = 0, height = 0;         // as configured
  int bufWidth = 0, bufHeight = 0;   // of the buffers
  void* map = nullptr;
  std::size_t mapBytes = 0;
  bool configured = false;
  Buffer buffers[2];
  pattern::Renderer renderer;
  std::uint16_t counter = 0;
};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* iface, std::uint32_t) {
  auto* app = static_cast<App*>(data);
  if (!std::strcmp(iface, wl_compositor_interface.name)) {
    app->compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
  } else if (!std::strcmp(iface, wl_shm_interface.name)) {
    app->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (!std::strcmp(iface, xdg_wm_base_interface.name)) {
    app->wm = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
  }
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistry = {OnGlobal, OnGlobalRemove};

void OnPing(void*, xdg_wm_base* wm, std::uint32_t serial) { xdg_wm_base_pong(wm, serial); }
const xdg_wm_base_listener kWm = {OnPing};

void OnSurfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
  xdg_surface_ack_configure(surface, serial);
  static_cast<App*>(data)->configured = true;
}
const xdg_surface_listener kSurface = {OnSurfaceConfigure};

void OnToplevelConfigure(void* data, xdg_toplevel*, std::int32_t w, std::int32_t h, wl_array*) {
  auto* app = static_cast<App*>(data);
  if (w > 0 && h > 0) {
    app->width = w;
    app->height = h;
  }
}
void OnToplevelClose(void*, xdg_toplevel*) { quit = 1; }
void OnBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
void OnCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener kToplevel = {OnToplevelConfigure, OnToplevelClose, OnBounds, OnCapabilities};

void OnRelease(void* data, wl_buffer*) { static_cast<Buffer*>(data)->busy = false; }
const wl_buffer_listener kBuffer = {OnRelease};

bool MakeBuffers(App& app) {
  for (Buffer& b : app.buffers) {
    if (b.buffer) wl_buffer_destroy(b.buffer);
    b = Buffer{};
  }
  if (app.map) munmap(app.map, app.mapBytes);
  app.map = nullptr;
  const int stride = app.width * 4;
  const std::size_t one = static_cast<std::size_t>(stride) * app.height;
  int fd = memfd_create("wl-pattern", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(2 * one)) < 0) return false;
  void* map = mmap(nullptr, 2 * one, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return false;
  app.map = map;
  app.mapBytes = 2 * one;
  app.bufWidth = app.width;
  app.bufHeight = app.height;
  wl_shm_pool* pool = wl_shm_create_pool(app.shm, fd, static_cast<std::int32_t>(2 * one));
  for (int i = 0; i < 2; ++i) {
    Buffer& b = app.buffers[i];
    b.buffer = wl_shm_pool_create_buffer(pool, static_cast<std::int32_t>(i * one), app.width, app.height, stride,
                                         WL_SHM_FORMAT_XRGB8888);
    b.pixels = static_cast<std::uint8_t*>(map) + i * one;
    wl_buffer_add_listener(b.buffer, &kBuffer, &b);
  }
  wl_shm_pool_destroy(pool);
  close(fd);
  return true;
}

// Draws the current frame into a free buffer and shows it; false when both
// buffers are still with the compositor.
bool Show(App& app) {
  for (Buffer& b : app.buffers) {
    if (b.busy) continue;
    app.renderer.render(app.counter, app.width, app.height, b.pixels, app.width * 4);
    pattern::drawStamp(pattern::Stamp{0, app.counter}, app.width, b.pixels, app.width * 4);
    wl_surface_attach(app.surface, b.buffer, 0, 0);
    wl_surface_damage(app.surface, 0, 0, app.width, app.height);
    wl_surface_commit(app.surface);
    b.busy = true;
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  int counter = 7;
  double fps = 0, seconds = 120;
  bool still = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--still") {
      still = true;
      continue;
    }
    if (i + 1 >= argc) break;
    if (a == "--counter") counter = std::atoi(argv[i + 1]);
    else if (a == "--fps") fps = std::atof(argv[i + 1]);
    else if (a == "--seconds") seconds = std::atof(argv[i + 1]);
    ++i;
  }
  std::signal(SIGTERM, [](int) { quit = 1; });
  std::signal(SIGINT, [](int) { quit = 1; });

  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    std::fprintf(stderr, "wl-pattern-client: no Wayland display\n");
    return 1;
  }
  App app;
  app.counter = static_cast<std::uint16_t>(counter);
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistry, &app);
  wl_display_roundtrip(display);
  if (!app.compositor || !app.shm || !app.wm) {
    std::fprintf(stderr, "wl-pattern-client: the compositor lacks wl_compositor, wl_shm or xdg_wm_base\n");
    return 1;
  }
  xdg_wm_base_add_listener(app.wm, &kWm, &app);
  app.surface = wl_compositor_create_surface(app.compositor);
  app.xsurface = xdg_wm_base_get_xdg_surface(app.wm, app.surface);
  xdg_surface_add_listener(app.xsurface, &kSurface, &app);
  app.toplevel = xdg_surface_get_toplevel(app.xsurface);
  xdg_toplevel_add_listener(app.toplevel, &kToplevel, &app);
  xdg_toplevel_set_title(app.toplevel, "pattern");
  xdg_toplevel_set_fullscreen(app.toplevel, nullptr);
  wl_surface_commit(app.surface);
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  // The first configure leaves the size to the client; sway makes the
  // window full-screen once it shows a picture, and configures it again with
  // the output's size.
  bool ready = false;
  const auto readyBy = Clock::now() + std::chrono::seconds(10);
  constexpr int kFirstWidth = 640, kFirstHeight = 480;
  while (!ready && !quit && Clock::now() < readyBy) {
    if (app.configured) {
      if (app.width <= 0 || app.height <= 0) {
        app.width = kFirstWidth;
        app.height = kFirstHeight;
      }
      if (app.width != app.bufWidth || app.height != app.bufHeight) {
        if (!MakeBuffers(app)) {
          std::fprintf(stderr, "wl-pattern-client: no buffers\n");
          return 1;
        }
        Show(app);
        // On the screen once the compositor has seen the commit.
        wl_display_roundtrip(display);
        continue;
      }
      if (app.width != kFirstWidth || app.height != kFirstHeight) {
        ready = true;
        break;
      }
    }
    wl_display_flush(display);
    pollfd p{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&p, 1, 100) > 0 && wl_display_dispatch(display) < 0) return 1;
  }
  if (!ready) {
    std::fprintf(stderr, "wl-pattern-client: the compositor did not make the window full-screen\n");
    return 1;
  }
  std::printf("ready %dx%d\n", app.width, app.height);
  std::fflush(stdout);

  const auto period = fps > 0 ? std::chrono::microseconds(static_cast<long>(1e6 / fps)) : std::chrono::hours(1);
  auto next = Clock::now() + period;
  while (!quit && Clock::now() < end) {
    wl_display_flush(display);
    const auto now = Clock::now();
    int waitMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(std::min(next, end) - now).count());
    pollfd p{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&p, 1, std::max(0, std::min(waitMs, 200))) > 0) {
      if (wl_display_dispatch(display) < 0) break;
    } else {
      wl_display_dispatch_pending(display);
    }
    // A new size from the compositor (the output changed): new buffers.
    if (app.width != app.bufWidth || app.height != app.bufHeight) {
      if (!MakeBuffers(app)) break;
      Show(app);
    }
    if (fps > 0 && Clock::now() >= next) {
      if (!still) ++app.counter;
      Show(app);  // a frame with both buffers busy is skipped
      next += period;
      if (next < Clock::now()) next = Clock::now() + period;
    }
  }
  for (Buffer& b : app.buffers) {
    if (b.buffer) wl_buffer_destroy(b.buffer);
  }
  if (app.map) munmap(app.map, app.mapBytes);
  xdg_toplevel_destroy(app.toplevel);
  xdg_surface_destroy(app.xsurface);
  wl_surface_destroy(app.surface);
  xdg_wm_base_destroy(app.wm);
  wl_shm_destroy(app.shm);
  wl_compositor_destroy(app.compositor);
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return 0;
}
