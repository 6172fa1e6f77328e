#include "pattern_window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "pattern.h"
#include "platform/clock.h"

namespace pattern {

struct PatternWindow::X {
  Display* dpy = nullptr;
  Window win = 0;
  GC gc = nullptr;
  Cursor cursor = 0;
  XImage* image = nullptr;
  XShmSegmentInfo shm{};
  bool useShm = false;
  std::vector<std::uint8_t> pixels;  // the image's memory without shared memory
  int errors = 0;                    // protocol errors since the last check
  Renderer renderer;
};

namespace {

// Xlib's default error handler ends the process; a refused shared-memory
// attach must only make us fall back. The handler is installed once and
// passes errors of other connections on to the one it replaced.
std::mutex registryLock;
std::vector<PatternWindow::X*>* registry;
XErrorHandler previousHandler;

int onXError(Display* dpy, XErrorEvent* event) {
  {
    std::lock_guard<std::mutex> g(registryLock);
    for (PatternWindow::X* x : *registry) {
      if (x->dpy == dpy) {
        ++x->errors;
        return 0;
      }
    }
  }
  return previousHandler ? previousHandler(dpy, event) : 0;
}

void registerConnection(PatternWindow::X* x) {
  std::lock_guard<std::mutex> g(registryLock);
  if (!registry) {
    registry = new std::vector<PatternWindow::X*>;
    previousHandler = XSetErrorHandler(&onXError);
  }
  registry->push_back(x);
}

void unregisterConnection(PatternWindow::X* x) {
  std::lock_guard<std::mutex> g(registryLock);
  if (registry) registry->erase(std::remove(registry->begin(), registry->end(), x), registry->end());
}

bool attachSharedImage(PatternWindow::X& x, Visual* visual, int width, int height) {
  if (!XShmQueryExtension(x.dpy)) return false;
  x.image = XShmCreateImage(x.dpy, visual, 24, ZPixmap, nullptr, &x.shm, static_cast<unsigned>(width),
                            static_cast<unsigned>(height));
  if (!x.image) return false;
  if (x.image->bits_per_pixel != 32) {
    XDestroyImage(x.image);
    x.image = nullptr;
    return false;
  }
  x.shm.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(x.image->bytes_per_line) * height, IPC_CREAT | 0600);
  if (x.shm.shmid < 0) {
    XDestroyImage(x.image);
    x.image = nullptr;
    return false;
  }
  x.shm.shmaddr = static_cast<char*>(shmat(x.shm.shmid, nullptr, 0));
  // Marked for removal at once: it goes with the last detach, even if we die.
  shmctl(x.shm.shmid, IPC_RMID, nullptr);
  if (x.shm.shmaddr == reinterpret_cast<char*>(-1)) {
    XDestroyImage(x.image);
    x.image = nullptr;
    return false;
  }
  x.image->data = x.shm.shmaddr;
  x.shm.readOnly = False;
  x.errors = 0;
  // A remote server, or one that cannot reach our segment, refuses here.
  const Status attached = XShmAttach(x.dpy, &x.shm);
  XSync(x.dpy, False);
  if (!attached || x.errors) {
    x.image->data = nullptr;
    XDestroyImage(x.image);
    x.image = nullptr;
    shmdt(x.shm.shmaddr);
    return false;
  }
  x.useShm = true;
  return true;
}

bool createPlainImage(PatternWindow::X& x, Visual* visual, int width, int height) {
  x.pixels.assign(static_cast<std::size_t>(width) * height * 4, 0);
  x.image = XCreateImage(x.dpy, visual, 24, ZPixmap, 0, reinterpret_cast<char*>(x.pixels.data()),
                         static_cast<unsigned>(width), static_cast<unsigned>(height), 32, width * 4);
  if (x.image && x.image->bits_per_pixel == 32) return true;
  if (x.image) {
    x.image->data = nullptr;
    XDestroyImage(x.image);
    x.image = nullptr;
  }
  return false;
}

// Shows the whole image in the window. On return the server has read the
// pixels, so the next frame may overwrite them.
// (Rows from the top only: height may be less than the image's.)
void putImage(PatternWindow::X& x, int width, int height) {
  if (x.useShm)
    XShmPutImage(x.dpy, x.win, x.gc, x.image, 0, 0, 0, 0, static_cast<unsigned>(width),
                 static_cast<unsigned>(height), False);
  else
    XPutImage(x.dpy, x.win, x.gc, x.image, 0, 0, 0, 0, static_cast<unsigned>(width),
              static_cast<unsigned>(height));
  XSync(x.dpy, False);
}

// Waits until the server has mapped the window (override-redirect: nothing
// stands in between), up to limitMs.
bool waitForMap(Display* dpy, Window win, int limitMs) {
  const std::int64_t until = plat::monotonicUs() + std::int64_t{limitMs} * 1000;
  for (;;) {
    while (XPending(dpy)) {
      XEvent e;
      XNextEvent(dpy, &e);
      if (e.type == MapNotify && e.xmap.window == win) return true;
    }
    const std::int64_t left = until - plat::monotonicUs();
    if (left <= 0) return false;
    pollfd p{ConnectionNumber(dpy), POLLIN, 0};
    poll(&p, 1, static_cast<int>(left / 1000) + 1);
  }
}

}  // namespace

PatternWindow::PatternWindow(PatternWindowOptions options) : options_(std::move(options)) {
  options_.fps = std::clamp(options_.fps, 1, 1000);
  options_.periodMs = std::clamp(options_.periodMs, 0, 60000);
  options_.stampFps = std::clamp(options_.stampFps, 0, 1000);
}

PatternWindow::~PatternWindow() { stop(); }

bool PatternWindow::sharedMemory() const { return x_ && x_->useShm; }

bool PatternWindow::start(std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    closeWindow();
    return false;
  };
  if (started_) {
    if (error) *error = "the pattern window starts only once";
    return false;  // the first start's window stays as it is
  }
  started_ = true;

  x_ = std::make_unique<X>();
  X& x = *x_;
  const char* name = options_.display.empty() ? nullptr : options_.display.c_str();
  x.dpy = XOpenDisplay(name);
  if (!x.dpy) {
    const std::string shown = XDisplayName(name);
    return fail(shown.empty() ? "cannot open a display: DISPLAY is not set" : "cannot open display " + shown);
  }
  registerConnection(&x);

  const int screen = DefaultScreen(x.dpy);
  Visual* visual = DefaultVisual(x.dpy, screen);
  if (DefaultDepth(x.dpy, screen) != 24 || visual->c_class != TrueColor || visual->red_mask != 0xFF0000 ||
      visual->green_mask != 0xFF00 || visual->blue_mask != 0xFF) {
    return fail("the screen is not 24-bit TrueColor (red 0xFF0000, green 0xFF00, blue 0xFF)");
  }
  width_ = DisplayWidth(x.dpy, screen);
  height_ = DisplayHeight(x.dpy, screen);
  const Window root = RootWindow(x.dpy, screen);

  // An empty 1x1 pointer image: the grab draws the pointer in, and it must
  // not cover the pattern.
  Pixmap empty = XCreatePixmap(x.dpy, root, 1, 1, 1);
  XColor black{};
  x.cursor = XCreatePixmapCursor(x.dpy, empty, empty, &black, &black, 0, 0);
  XFreePixmap(x.dpy, empty);

  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  attrs.background_pixel = BlackPixel(x.dpy, screen);
  attrs.event_mask = StructureNotifyMask | ExposureMask;
  attrs.cursor = x.cursor;
  x.win = XCreateWindow(x.dpy, root, 0, 0, static_cast<unsigned>(width_), static_cast<unsigned>(height_), 0,
                        CopyFromParent, InputOutput, CopyFromParent,
                        CWOverrideRedirect | CWBackPixel | CWEventMask | CWCursor, &attrs);
  XStoreName(x.dpy, x.win, "tandeo-pattern");
  x.gc = XCreateGC(x.dpy, x.win, 0, nullptr);

  if (!attachSharedImage(x, visual, width_, height_) && !createPlainImage(x, visual, width_, height_))
    return fail("cannot create an image of the screen's size");

  XMapRaised(x.dpy, x.win);
  XSync(x.dpy, False);
  if (!waitForMap(x.dpy, x.win, 3000)) return fail("the window was not mapped within 3 s");
  drawFrame(0);

  running_ = true;
  thread_ = plat::startThread(&PatternWindow::threadMain, this);
  if (!thread_.valid()) {
    running_ = false;
    return fail("cannot start the drawing thread");
  }
  return true;
}

void PatternWindow::stop() {
  stopRequested_ = true;
  wake_.set();
  join();
}

void PatternWindow::join() {
  plat::joinThread(thread_);
  closeWindow();
}

std::uint32_t PatternWindow::threadMain(void* self) {
  static_cast<PatternWindow*>(self)->drawLoop();
  return 0;
}

void PatternWindow::drawLoop() {
  X& x = *x_;
  const std::int64_t periodUs = options_.periodMs > 0 ? std::int64_t{options_.periodMs} * 1000 : 1000000 / options_.fps;
  const std::int64_t stampPeriodUs = options_.stampFps > 0 ? 1000000 / options_.stampFps : INT64_MAX / 2;
  const std::int64_t t0 = plat::monotonicUs();
  const std::int64_t endUs = options_.seconds >= 0 ? t0 + static_cast<std::int64_t>(options_.seconds * 1e6)
                                                   : INT64_MAX;
  std::int64_t next = t0 + periodUs;
  // Stamps start after the first frame (frame 0 when still).
  std::int64_t nextStamp = (options_.still ? t0 : next) + stampPeriodUs;
  std::uint16_t counter = 1;  // the next frame; a still one is frame 0
  while (!stopRequested_) {
    bool exposed = false;
    while (XPending(x.dpy)) {
      XEvent e;
      XNextEvent(x.dpy, &e);
      exposed |= e.type == Expose;
    }
    if (exposed && options_.still) putImage(x, width_, height_);
    const std::int64_t now = plat::monotonicUs();
    if (now >= endUs) break;
    if (!options_.still && now >= next) {
      // Ticks on a fixed grid; one that came too late is not made up for.
      next += periodUs;
      if (now - next > periodUs) next = now + periodUs;
      drawFrame(counter++);
      nextStamp = now + stampPeriodUs;
    } else if (now >= nextStamp && (options_.still || counter > 1)) {
      nextStamp += stampPeriodUs;
      if (now - nextStamp > stampPeriodUs) nextStamp = now + stampPeriodUs;
      drawStampOnly(static_cast<std::uint16_t>(counter - 1));
    } else {
      const std::int64_t until = std::min({options_.still ? std::min(now + 100000, nextStamp) : std::min(next, nextStamp), endUs});
      wake_.wait(static_cast<int>(std::max<std::int64_t>(1, (until - now + 999) / 1000)));
    }
  }
  running_ = false;
}

// The frame on the screen keeps its number; only its time is new. Just the
// stamp rows go to the server.
void PatternWindow::drawStampOnly(std::uint16_t counter) {
  X& x = *x_;
  auto* pixels = reinterpret_cast<std::uint8_t*>(x.image->data);
  Stamp stamp;
  stamp.ms = static_cast<std::uint32_t>(plat::monotonicUs() / 1000);
  stamp.counter = counter;
  drawStamp(stamp, width_, pixels, x.image->bytes_per_line);
  putImage(x, width_, std::min(height_, stampRows(width_)));
}

void PatternWindow::drawFrame(std::uint16_t counter) {
  X& x = *x_;
  auto* pixels = reinterpret_cast<std::uint8_t*>(x.image->data);
  const std::ptrdiff_t stride = x.image->bytes_per_line;
  x.renderer.render(counter, width_, height_, pixels, stride);
  if (options_.grain) addGrain(counter, width_, height_, pixels, stride);
  Stamp stamp;
  stamp.ms = static_cast<std::uint32_t>(plat::monotonicUs() / 1000);
  stamp.counter = counter;
  drawStamp(stamp, width_, pixels, stride);
  putImage(x, width_, height_);
  ++framesDrawn_;
}

void PatternWindow::closeWindow() {
  if (!x_) return;
  X& x = *x_;
  if (x.dpy) {
    if (x.image) {
      if (x.useShm) {
        XShmDetach(x.dpy, &x.shm);
        XSync(x.dpy, False);
        shmdt(x.shm.shmaddr);
      }
      x.image->data = nullptr;  // ours, not Xlib's to free
      XDestroyImage(x.image);
    }
    if (x.gc) XFreeGC(x.dpy, x.gc);
    if (x.win) XDestroyWindow(x.dpy, x.win);
    if (x.cursor) XFreeCursor(x.dpy, x.cursor);
    XCloseDisplay(x.dpy);
    unregisterConnection(&x);
  }
  x_.reset();
}

}  // namespace pattern
