#include "test_screen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace plat_test {

bool PaintPattern() {
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) return false;
  int screen = DefaultScreen(dpy);
  int width = DisplayWidth(dpy, screen);
  int height = DisplayHeight(dpy, screen);
  Visual* visual = DefaultVisual(dpy, screen);
  XImage* img = XCreateImage(dpy, visual, static_cast<unsigned>(DefaultDepth(dpy, screen)), ZPixmap, 0,
                             nullptr, static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
  if (img == nullptr) {
    XCloseDisplay(dpy);
    return false;
  }
  img->data = static_cast<char*>(std::malloc(static_cast<size_t>(img->bytes_per_line) * height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t bgr[3];
      PatternBgr(x, y, bgr);
      XPutPixel(img, x, y,
                (static_cast<unsigned long>(bgr[2]) << 16) | (static_cast<unsigned long>(bgr[1]) << 8) | bgr[0]);
    }
  }
  Window root = RootWindow(dpy, screen);
  GC gc = XCreateGC(dpy, root, 0, nullptr);
  XSetSubwindowMode(dpy, gc, IncludeInferiors);
  XPutImage(dpy, root, gc, img, 0, 0, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XFreeGC(dpy, gc);
  XDestroyImage(img);
  XSync(dpy, False);
  XCloseDisplay(dpy);
  return true;
}

bool FillRect(int x, int y, int width, int height, unsigned long rgb) {
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) return false;
  Window root = DefaultRootWindow(dpy);
  GC gc = XCreateGC(dpy, root, 0, nullptr);
  XSetSubwindowMode(dpy, gc, IncludeInferiors);
  XSetForeground(dpy, gc, rgb);
  XFillRectangle(dpy, root, gc, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XFreeGC(dpy, gc);
  XSync(dpy, False);
  XCloseDisplay(dpy);
  return true;
}

namespace {

// The server cannot report the image of a pointer whose creator has
// disconnected, so pointer images come from one connection kept open for
// the life of the test program.
struct CursorOwner {
  Display* dpy = nullptr;
  std::string name;
  Cursor current = 0;
};

CursorOwner& Owner() {
  static CursorOwner owner;
  const char* now = std::getenv("DISPLAY");
  if (owner.dpy != nullptr && owner.name != (now ? now : "")) owner = CursorOwner{};  // left with its server
  if (owner.dpy == nullptr) {
    owner.dpy = XOpenDisplay(nullptr);
    owner.name = now ? now : "";
  }
  return owner;
}

}  // namespace

bool SetSquareCursor(int width, int height, int hotX, int hotY, bool visible) {
  CursorOwner& owner = Owner();
  Display* dpy = owner.dpy;
  if (dpy == nullptr) return false;
  Window root = DefaultRootWindow(dpy);
  int bytesPerRow = (width + 7) / 8;
  std::vector<char> ones(static_cast<size_t>(bytesPerRow) * height, static_cast<char>(0xff));
  std::vector<char> zeros(ones.size(), 0);
  Pixmap source = XCreateBitmapFromData(dpy, root, ones.data(), static_cast<unsigned>(width),
                                        static_cast<unsigned>(height));
  Pixmap mask = XCreateBitmapFromData(dpy, root, visible ? ones.data() : zeros.data(),
                                      static_cast<unsigned>(width), static_cast<unsigned>(height));
  XColor red{};
  red.red = 0xffff;
  red.flags = DoRed | DoGreen | DoBlue;
  XColor black{};
  black.flags = DoRed | DoGreen | DoBlue;
  Cursor cursor = XCreatePixmapCursor(dpy, source, mask, &red, &black, static_cast<unsigned>(hotX),
                                      static_cast<unsigned>(hotY));
  XDefineCursor(dpy, root, cursor);
  if (owner.current != 0) XFreeCursor(dpy, owner.current);
  owner.current = cursor;
  XFreePixmap(dpy, source);
  XFreePixmap(dpy, mask);
  XSync(dpy, False);
  return true;
}

bool WarpPointer(int x, int y) {
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) return false;
  XWarpPointer(dpy, None, DefaultRootWindow(dpy), 0, 0, 0, 0, x, y);
  XSync(dpy, False);
  XCloseDisplay(dpy);
  return true;
}

}  // namespace plat_test
