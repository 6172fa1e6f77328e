// X11 back-end of the screen grab: MIT-SHM where the server offers it, the
// core GetImage request otherwise, the pointer's image from XFixes.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <poll.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>

#include "platform/clock.h"
#include "packed_bitmap.h"
#include "platform/screen_grab.h"
#include "x11_connection.h"

namespace plat {
namespace {

constexpr int kMaxCursorSide = 256;             // larger pointer images are cropped
constexpr std::int64_t kReconnectDelayUs = 1000000;
constexpr std::int64_t kPointerLookMs = 8;  // how often a wait for drawing looks at the pointer

// The server's usual format: 32-bit little-endian words 0x00RRGGBB, which
// PackXrgbRow packs.
bool IsXrgb32(const XImage* img) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return img->bits_per_pixel == 32 && img->byte_order == LSBFirst && img->red_mask == 0xff0000 &&
         img->green_mask == 0xff00 && img->blue_mask == 0xff;
#else
  (void)img;
  return false;
#endif
}

// Where a grab's pixels are, for drawing the pointer into them: row 0 is
// the top row, rows rowStep bytes apart (negative for bottom-up rows), the
// pixels' first three bytes blue, green, red.
struct PixelRows {
  std::uint8_t* top;
  std::int64_t rowStep;
  int bytesPerPixel;
  std::int64_t width;
  std::int64_t height;
};

// One colour of a pixel value of any true-colour format, brought to 8 bits.
std::uint8_t Component(unsigned long pixel, unsigned long mask) {
  int shift = __builtin_ctzl(mask);
  int bits = __builtin_popcountl(mask);
  unsigned long v = (pixel & mask) >> shift;
  unsigned long max = (bits >= 64) ? ~0ul : (1ul << bits) - 1;
  return static_cast<std::uint8_t>(bits >= 8 ? v >> (bits - 8) : v * 255 / max);
}

}  // namespace

struct ScreenGrabber::Impl {
  Impl(std::int64_t capacityPixels, GrabMethod method)
      : capacity(capacityPixels),
        wanted(method),
        inUse(method),
        // Not value-initialised: untouched pages cost nothing until a grab.
        packed(new std::uint8_t[kPackedHeaderSize + 3 * capacityPixels]),
        cursor(new std::uint32_t[kMaxCursorSide * kMaxCursorSide]) {
    std::memset(packed.get(), 0, kPackedHeaderSize);
  }
  ~Impl() {
    ReleaseHeld();
    Disconnect();
  }

  GrabResult Grab(const ScreenRect& area, bool withCursor);
  GrabResult GrabXrgb(const ScreenRect& area, XrgbImage* image, bool withCursor);
  ScreenChange Changes(const ScreenRect& area, ScreenRect* dirty, bool withCursor);
  bool WaitForDrawing(std::int64_t untilUs);
  bool PointerMoved();
  void Remember(const ScreenRect& area, bool withCursor);
  GrabResult Prepare(const ScreenRect& area);
  void ReleaseHeld();

  bool Connect();
  void Disconnect();
  void DrainEvents();
  bool RefreshRoot();
  bool CreateShmImage(int width, int height);
  void DestroyShmImage();
  XImage* Fetch(int x, int y, int width, int height, bool* owned);
  bool Pack(XImage* img, std::uint8_t* pixels, std::int64_t rowBytes, std::int64_t height,
            std::int64_t dx, std::int64_t dy);
  void RefreshCursor();
  void DrawCursor(const ScreenRect& area, const PixelRows& rows);

  const std::int64_t capacity;
  const GrabMethod wanted;
  GrabMethod inUse;
  std::unique_ptr<std::uint8_t[]> packed;

  // The pointer's image, premultiplied ARGB, refreshed when XFixes says
  // that it changed. Width 0: nothing to draw.
  std::unique_ptr<std::uint32_t[]> cursor;
  int cursorWidth = 0;
  int cursorHeight = 0;
  int cursorHotX = 0;
  int cursorHotY = 0;
  bool cursorStale = true;

  std::unique_ptr<x11::Connection> conn;
  std::int64_t nextConnectUs = 0;
  Display* dpy = nullptr;
  Window root = 0;
  Visual* visual = nullptr;
  int depth = 0;
  int rootWidth = 0;
  int rootHeight = 0;
  bool haveFixes = false;
  int fixesEventBase = 0;

  // What the server reports as redrawn since it was last asked, and what
  // the last good grab showed: its area, and where the pointer was drawn.
  bool haveDamage = false;
  int damageEventBase = 0;
  bool drawn = false;  // a damage notice came since the last look at the region
  Damage damage = 0;
  XserverRegion damaged = 0;
  bool remembered = false;
  ScreenRect rememberedArea{0, 0, 0, 0};
  bool rememberedCursor = false;
  bool pointerDrawn = false;
  int pointerX = 0;
  int pointerY = 0;
  XShmSegmentInfo shm{};
  XImage* shmImage = nullptr;
  // A GetImage image lent out by GrabXrgb, freed at the next grab.
  XImage* held = nullptr;
};

bool ScreenGrabber::Impl::Connect() {
  std::int64_t now = monotonicUs();
  if (now < nextConnectUs) return false;
  nextConnectUs = now + kReconnectDelayUs;
  conn = x11::Connection::Open();
  if (!conn) return false;
  dpy = conn->display();
  root = DefaultRootWindow(dpy);
  if (!RefreshRoot()) {
    Disconnect();
    return false;
  }
  // Follow the screen's size and the pointer's image through events
  // instead of asking on every frame.
  XSelectInput(dpy, root, StructureNotifyMask);
  int errorBase = 0;
  haveFixes = XFixesQueryExtension(dpy, &fixesEventBase, &errorBase);
  if (haveFixes) {
    int major = 0, minor = 0;
    XFixesQueryVersion(dpy, &major, &minor);
    XFixesSelectCursorInput(dpy, root, XFixesDisplayCursorNotifyMask);
  }
  // Damage to the root window covers drawing into every window on it.
  haveDamage = haveFixes && XDamageQueryExtension(dpy, &damageEventBase, &errorBase);
  if (haveDamage) {
    damage = XDamageCreate(dpy, root, XDamageReportNonEmpty);
    damaged = XFixesCreateRegion(dpy, nullptr, 0);
    XDamageSubtract(dpy, damage, None, None);  // a new object counts the whole window as drawn
  }
  remembered = false;
  cursorStale = true;
  if (wanted == GrabMethod::GetImage) {
    inUse = GrabMethod::GetImage;
  } else {
    bool shmOk = XShmQueryExtension(dpy);
    inUse = (shmOk || wanted == GrabMethod::SharedMemory) ? GrabMethod::SharedMemory : GrabMethod::GetImage;
  }
  return true;
}

void ScreenGrabber::Impl::Disconnect() {
  DestroyShmImage();
  conn.reset();  // the server frees the damage object and region with the connection
  dpy = nullptr;
  haveDamage = false;
  remembered = false;
  inUse = wanted;
}

bool ScreenGrabber::Impl::RefreshRoot() {
  XWindowAttributes attrs;
  if (!XGetWindowAttributes(dpy, root, &attrs)) return false;
  visual = attrs.visual;
  depth = attrs.depth;
  rootWidth = attrs.width;
  rootHeight = attrs.height;
  return true;
}

void ScreenGrabber::Impl::DrainEvents() {
  while (!conn->dead() && XPending(dpy) > 0) {
    XEvent event;
    XNextEvent(dpy, &event);
    if (event.type == ConfigureNotify && event.xconfigure.window == root) {
      rootWidth = event.xconfigure.width;
      rootHeight = event.xconfigure.height;
      remembered = false;
    } else if (haveFixes && event.type == fixesEventBase + XFixesCursorNotify) {
      cursorStale = true;
      remembered = false;  // a new pointer image is a change on the screen
    } else if (haveDamage && event.type == damageEventBase + XDamageNotify) {
      drawn = true;  // what was drawn, and where, Changes asks for itself
    }
  }
}

bool ScreenGrabber::Impl::CreateShmImage(int width, int height) {
  XImage* img = XShmCreateImage(dpy, visual, depth, ZPixmap, nullptr, &shm, width, height);
  if (img == nullptr) return false;
  shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(img->bytes_per_line) * height, IPC_CREAT | 0600);
  if (shm.shmid < 0) {
    XDestroyImage(img);
    return false;
  }
  shm.shmaddr = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
  if (shm.shmaddr == reinterpret_cast<char*>(-1)) {
    shmctl(shm.shmid, IPC_RMID, nullptr);
    XDestroyImage(img);
    return false;
  }
  img->data = shm.shmaddr;
  shm.readOnly = False;
  conn->ClearErrors();
  // A remote server or one without access to our segments refuses here.
  Status attached = XShmAttach(dpy, &shm);
  XSync(dpy, False);
  // Marked for removal now, so it goes away with the last detach even if
  // this process dies.
  shmctl(shm.shmid, IPC_RMID, nullptr);
  if (!attached || conn->HadErrors()) {
    img->data = nullptr;
    XDestroyImage(img);
    shmdt(shm.shmaddr);
    return false;
  }
  shmImage = img;
  return true;
}

void ScreenGrabber::Impl::DestroyShmImage() {
  if (shmImage == nullptr) return;
  if (!conn->dead()) {
    XShmDetach(dpy, &shm);
    XSync(dpy, False);
  }
  shmImage->data = nullptr;  // the segment is not Xlib's to free
  XDestroyImage(shmImage);
  shmImage = nullptr;
  shmdt(shm.shmaddr);
}

XImage* ScreenGrabber::Impl::Fetch(int x, int y, int width, int height, bool* owned) {
  *owned = false;
  if (inUse == GrabMethod::SharedMemory) {
    if (shmImage == nullptr || shmImage->width != width || shmImage->height != height) {
      DestroyShmImage();
      if (!CreateShmImage(width, height)) {
        if (wanted == GrabMethod::SharedMemory || conn->dead()) return nullptr;
        inUse = GrabMethod::GetImage;  // for the rest of this connection
      }
    }
    if (inUse == GrabMethod::SharedMemory) {
      conn->ClearErrors();
      if (!XShmGetImage(dpy, root, shmImage, x, y, AllPlanes) || conn->HadErrors()) return nullptr;
      return shmImage;
    }
  }
  // Xlib allocates this image itself; it is freed as soon as it is packed.
  conn->ClearErrors();
  XImage* img = XGetImage(dpy, root, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                          AllPlanes, ZPixmap);
  if (img != nullptr && conn->HadErrors()) {
    XDestroyImage(img);
    img = nullptr;
  }
  *owned = img != nullptr;
  return img;
}

bool ScreenGrabber::Impl::Pack(XImage* img, std::uint8_t* pixels, std::int64_t rowBytes,
                               std::int64_t height, std::int64_t dx, std::int64_t dy) {
  bool fast = IsXrgb32(img);
  if (!fast && (img->red_mask == 0 || img->green_mask == 0 || img->blue_mask == 0)) {
    return false;  // palette visuals are not supported
  }
  for (int y = 0; y < img->height; ++y) {
    // The packed rows are bottom-up.
    std::uint8_t* dst = pixels + (height - 1 - (dy + y)) * rowBytes + 3 * dx;
    if (fast) {
      PackXrgbRow(reinterpret_cast<const std::uint8_t*>(img->data) + static_cast<std::int64_t>(y) * img->bytes_per_line,
                    dst, img->width);
      continue;
    }
    for (int x = 0; x < img->width; ++x, dst += 3) {
      unsigned long v = XGetPixel(img, x, y);
      dst[0] = Component(v, img->blue_mask);
      dst[1] = Component(v, img->green_mask);
      dst[2] = Component(v, img->red_mask);
    }
  }
  return true;
}

void ScreenGrabber::Impl::RefreshCursor() {
  cursorStale = false;
  cursorWidth = 0;
  XFixesCursorImage* image = XFixesGetCursorImage(dpy);
  if (image == nullptr) return;
  int width = std::min<int>(image->width, kMaxCursorSide);
  int height = std::min<int>(image->height, kMaxCursorSide);
  bool visible = false;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      // Each long holds one 32-bit ARGB value.
      std::uint32_t p = static_cast<std::uint32_t>(image->pixels[y * image->width + x]);
      cursor[y * width + x] = p;
      visible = visible || (p >> 24) != 0;
    }
  }
  // A fully transparent image is how X11 clients hide the pointer.
  if (visible) {
    cursorWidth = width;
    cursorHeight = height;
    cursorHotX = image->xhot;
    cursorHotY = image->yhot;
  }
  XFree(image);
}

void ScreenGrabber::Impl::DrawCursor(const ScreenRect& area, const PixelRows& rows) {
  pointerDrawn = false;
  if (!haveFixes) return;
  if (cursorStale) RefreshCursor();
  if (cursorWidth == 0) return;
  Window rootReturn, child;
  int rootX, rootY, winX, winY;
  unsigned int mask;
  if (!XQueryPointer(dpy, root, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask)) {
    return;  // the pointer is on another screen
  }
  pointerDrawn = true;
  pointerX = rootX;
  pointerY = rootY;
  // The hot spot lands on the pointer's position.
  std::int64_t originX = static_cast<std::int64_t>(rootX) - cursorHotX - area.left;
  std::int64_t originY = static_cast<std::int64_t>(rootY) - cursorHotY - area.top;
  int x0 = static_cast<int>(std::max<std::int64_t>(0, -originX));
  int x1 = static_cast<int>(std::min<std::int64_t>(cursorWidth, rows.width - originX));
  for (int cy = 0; cy < cursorHeight; ++cy) {
    std::int64_t y = originY + cy;
    if (y < 0 || y >= rows.height) continue;
    std::uint8_t* row = rows.top + y * rows.rowStep;
    const std::uint32_t* src = cursor.get() + cy * cursorWidth;
    for (int cx = x0; cx < x1; ++cx) {
      std::uint32_t p = src[cx];
      unsigned alpha = p >> 24;
      if (alpha == 0) continue;
      std::uint8_t* px = row + rows.bytesPerPixel * (originX + cx);
      unsigned keep = 255 - alpha;
      // Premultiplied: colour + background x (1 - alpha).
      for (int c = 0; c < 3; ++c) {
        unsigned v = ((p >> (8 * c)) & 0xff) + (px[c] * keep + 127) / 255;
        px[c] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
      }
    }
  }
}

void ScreenGrabber::Impl::ReleaseHeld() {
  if (held != nullptr) XDestroyImage(held);
  held = nullptr;
}

// What every grab does first: check the area, reach the display, take in
// what the server said since the last grab.
GrabResult ScreenGrabber::Impl::Prepare(const ScreenRect& area) {
  ReleaseHeld();
  std::int64_t width = static_cast<std::int64_t>(area.right) - area.left;
  std::int64_t height = static_cast<std::int64_t>(area.bottom) - area.top;
  if (width <= 0 || height <= 0 || width * height > capacity) return GrabResult::Failed;
  if (PackedRowBytes(width) * height > 3 * capacity) return GrabResult::Failed;
  if (!conn && !Connect()) return GrabResult::NoDisplay;
  DrainEvents();
  if (conn->dead()) {
    Disconnect();
    return GrabResult::NoDisplay;
  }
  return GrabResult::Ok;
}

GrabResult ScreenGrabber::Impl::GrabXrgb(const ScreenRect& area, XrgbImage* image, bool withCursor) {
  GrabResult ready = Prepare(area);
  if (ready != GrabResult::Ok) return ready;
  if (area.left < 0 || area.top < 0 || area.right > rootWidth || area.bottom > rootHeight) {
    return GrabResult::Unsuitable;
  }
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  bool owned = false;
  XImage* img = Fetch(area.left, area.top, width, height, &owned);
  if (img == nullptr) {
    if (conn->dead()) {
      Disconnect();
      return GrabResult::NoDisplay;
    }
    RefreshRoot();
    return GrabResult::Failed;
  }
  if (owned) held = img;
  if (!IsXrgb32(img)) return GrabResult::Unsuitable;
  std::uint8_t* pixels = reinterpret_cast<std::uint8_t*>(img->data);
  if (withCursor) DrawCursor(area, PixelRows{pixels, img->bytes_per_line, 4, width, height});
  *image = XrgbImage{pixels, img->bytes_per_line, width, height};
  Remember(area, withCursor);
  return GrabResult::Ok;
}

GrabResult ScreenGrabber::Impl::Grab(const ScreenRect& area, bool withCursor) {
  GrabResult ready = Prepare(area);
  if (ready != GrabResult::Ok) return ready;
  std::int64_t width = static_cast<std::int64_t>(area.right) - area.left;
  std::int64_t height = static_cast<std::int64_t>(area.bottom) - area.top;
  std::int64_t rowBytes = PackedRowBytes(width);

  std::uint8_t* pixels = packed.get() + kPackedHeaderSize;
  // X11 refuses to read outside the root window: grab the part on the
  // screen and leave the rest black.
  std::int64_t x0 = std::max<std::int64_t>(area.left, 0);
  std::int64_t y0 = std::max<std::int64_t>(area.top, 0);
  std::int64_t x1 = std::min<std::int64_t>(area.right, rootWidth);
  std::int64_t y1 = std::min<std::int64_t>(area.bottom, rootHeight);
  bool covered = x0 == area.left && y0 == area.top && x1 == area.right && y1 == area.bottom;
  if (!covered) {
    std::memset(pixels, 0, static_cast<size_t>(rowBytes * height));
  } else if (rowBytes != 3 * width) {
    for (std::int64_t y = 0; y < height; ++y) {
      std::memset(pixels + y * rowBytes + 3 * width, 0, static_cast<size_t>(rowBytes - 3 * width));
    }
  }
  if (x1 > x0 && y1 > y0) {
    bool owned = false;
    XImage* img = Fetch(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                        static_cast<int>(y1 - y0), &owned);
    if (img == nullptr) {
      if (conn->dead()) {
        Disconnect();
        return GrabResult::NoDisplay;
      }
      RefreshRoot();  // the screen may have shrunk since the last event
      return GrabResult::Failed;
    }
    bool ok = Pack(img, pixels, rowBytes, height, x0 - area.left, y0 - area.top);
    if (owned) XDestroyImage(img);
    if (!ok) return GrabResult::Failed;
  }
  WritePackedHeader(packed.get(), static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), rowBytes);
  if (withCursor) DrawCursor(area, PixelRows{pixels + (height - 1) * rowBytes, -rowBytes, 3, width, height});
  Remember(area, withCursor);
  return GrabResult::Ok;
}

bool ScreenGrabber::Impl::PointerMoved() {
  if (!remembered || !rememberedCursor || cursorWidth == 0) return false;  // not in the picture
  Window rootReturn, child;
  int rootX, rootY, winX, winY;
  unsigned int mask;
  const bool onScreen = XQueryPointer(dpy, root, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask);
  return onScreen != pointerDrawn || (onScreen && (rootX != pointerX || rootY != pointerY));
}

void ScreenGrabber::Impl::Remember(const ScreenRect& area, bool withCursor) {
  remembered = true;
  rememberedArea = area;
  rememberedCursor = withCursor;
}

ScreenChange ScreenGrabber::Impl::Changes(const ScreenRect& area, ScreenRect* dirty, bool withCursor) {
  if (!conn || !haveDamage) return ScreenChange::Whole;
  DrainEvents();
  if (conn->dead()) return ScreenChange::Whole;
  // Takes all drawing reported so far, whatever the answer: what is drawn
  // from now on counts against the grab that follows.
  drawn = false;
  XDamageSubtract(dpy, damage, None, damaged);
  int count = 0;
  XRectangle bounds;
  XRectangle* rects = XFixesFetchRegionAndBounds(dpy, damaged, &count, &bounds);
  ScreenRect box{area.right, area.bottom, area.left, area.top};  // empty
  for (int i = 0; i < count; ++i) {
    const XRectangle& r = rects[i];
    const std::int32_t left = std::max<std::int32_t>(r.x, area.left);
    const std::int32_t top = std::max<std::int32_t>(r.y, area.top);
    const std::int32_t right = std::min<std::int32_t>(r.x + r.width, area.right);
    const std::int32_t bottom = std::min<std::int32_t>(r.y + r.height, area.bottom);
    if (left >= right || top >= bottom) continue;
    box = ScreenRect{std::min(box.left, left), std::min(box.top, top), std::max(box.right, right),
                     std::max(box.bottom, bottom)};
  }
  if (rects != nullptr) XFree(rects);
  const bool touched = box.left < box.right;
  if (conn->dead() || !remembered || withCursor != rememberedCursor) return ScreenChange::Whole;
  if (area.left != rememberedArea.left || area.top != rememberedArea.top || area.right != rememberedArea.right ||
      area.bottom != rememberedArea.bottom) {
    return ScreenChange::Whole;
  }
  // The pointer is drawn into the picture: moving it changes the picture
  // where it was and where it is.
  if (withCursor && PointerMoved()) return ScreenChange::Whole;
  if (!touched) return ScreenChange::Unchanged;
  *dirty = box;
  return ScreenChange::Part;
}

bool ScreenGrabber::Impl::WaitForDrawing(std::int64_t untilUs) {
  if (!conn || !haveDamage) return false;
  for (;;) {
    DrainEvents();
    if (conn->dead()) return false;
    if (drawn || PointerMoved()) return true;
    const std::int64_t left = untilUs - monotonicUs();
    if (left <= 0) return false;
    // The server reports no pointer motion here: it is looked for between
    // waits, often enough that a moving pointer shows at once.
    pollfd p{ConnectionNumber(dpy), POLLIN, 0};
    poll(&p, 1, static_cast<int>(std::min<std::int64_t>((left + 999) / 1000, kPointerLookMs)));
  }
}

ScreenGrabber::ScreenGrabber(std::int64_t capacityPixels, GrabMethod method)
    : impl_(new Impl(capacityPixels, method)) {}
ScreenGrabber::~ScreenGrabber() = default;

GrabResult ScreenGrabber::Grab(const ScreenRect& area, bool withCursor) { return impl_->Grab(area, withCursor); }
GrabResult ScreenGrabber::GrabXrgb(const ScreenRect& area, XrgbImage* image, bool withCursor) {
  return impl_->GrabXrgb(area, image, withCursor);
}
ScreenChange ScreenGrabber::Changes(const ScreenRect& area, ScreenRect* dirty, bool withCursor) {
  return impl_->Changes(area, dirty, withCursor);
}
void ScreenGrabber::Completed(const ScreenRect& area, bool withCursor) { impl_->Remember(area, withCursor); }
bool ScreenGrabber::WaitForDrawing(std::int64_t untilUs) { return impl_->WaitForDrawing(untilUs); }

const std::uint8_t* ScreenGrabber::packed() const { return impl_->packed.get(); }
GrabMethod ScreenGrabber::method() const { return impl_->inUse; }

}  // namespace plat
