// GDI back-end of the screen grab: the screen's device context copied into
// a compatible bitmap and read back with GetDIBits for the packed bitmap,
// or into a 32-bit DIB section for the grab without packing. The pointer is
// drawn with the system's own cursor drawing.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "packed_bitmap.h"
#include "platform/clock.h"
#include "platform/screen_grab.h"

namespace plat {
namespace {

constexpr std::int64_t kReconnectDelayUs = 1000000;
// CAPTUREBLT: layered (translucent) windows are part of what the screen
// shows, and of the picture.
constexpr DWORD kScreenCopy = SRCCOPY | CAPTUREBLT;

// The whole desktop in screen coordinates: every monitor, the primary one
// at 0, 0.
ScreenRect VirtualScreen() {
  const int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  return ScreenRect{x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN), y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

// A logical palette of 256 entries, laid out as LOGPALETTE with its whole
// entry table.
struct PaletteBlock {
  WORD version;
  WORD count;
  PALETTEENTRY entries[256];
};
static_assert(offsetof(PaletteBlock, entries) == offsetof(LOGPALETTE, palPalEntry), "LOGPALETTE layout");

}  // namespace

struct ScreenGrabber::Impl {
  Impl(std::int64_t capacityPixels, GrabMethod method)
      : capacity(capacityPixels),
        wanted(method),
        // Not value-initialised: untouched pages cost nothing until a grab.
        packed(new std::uint8_t[kPackedHeaderSize + 3 * capacityPixels]) {
    std::memset(packed.get(), 0, kPackedHeaderSize);
  }
  ~Impl() { Disconnect(); }

  GrabResult Grab(const ScreenRect& area, bool withCursor);
  GrabResult GrabXrgb(const ScreenRect& area, XrgbImage* image, bool withCursor);
  GrabResult Prepare(const ScreenRect& area);
  bool Connect();
  void Disconnect();
  bool CopyScreen(HBITMAP target, const ScreenRect& area, const ScreenRect& onScreen, bool withCursor);
  void DrawCursor(const ScreenRect& area);
  HPALETTE SystemPalette();

  const std::int64_t capacity;
  const GrabMethod wanted;
  std::unique_ptr<std::uint8_t[]> packed;
  PaletteBlock palette{};

  HDC screen = nullptr;  // the "DISPLAY" context: all monitors
  HDC memory = nullptr;  // compatible with it; holds a target bitmap only during a copy
  std::int64_t nextConnectUs = 0;

  // The packed grab's bitmap in the screen's own format, and the 32-bit
  // top-down DIB section of the grab without packing; each made again only
  // when the grabbed size changes.
  HBITMAP bitmap = nullptr;
  int bitmapWidth = 0;
  int bitmapHeight = 0;
  HBITMAP section = nullptr;
  std::uint8_t* sectionBits = nullptr;
  int sectionWidth = 0;
  int sectionHeight = 0;

  // The pointer image last seen on the screen, the one drawn for it and its
  // hot spot, asked for again only when the image changes.
  HCURSOR shown = nullptr;
  HCURSOR drawn = nullptr;
  int hotX = 0;
  int hotY = 0;
};

bool ScreenGrabber::Impl::Connect() {
  const std::int64_t now = monotonicUs();
  if (now < nextConnectUs) return false;
  nextConnectUs = now + kReconnectDelayUs;
  screen = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
  memory = screen ? CreateCompatibleDC(screen) : nullptr;
  if (!memory) {
    Disconnect();
    return false;
  }
  return true;
}

void ScreenGrabber::Impl::Disconnect() {
  if (bitmap) DeleteObject(bitmap);
  if (section) DeleteObject(section);
  bitmap = section = nullptr;
  sectionBits = nullptr;
  bitmapWidth = bitmapHeight = sectionWidth = sectionHeight = 0;
  if (memory) DeleteDC(memory);
  if (screen) DeleteDC(screen);
  memory = nullptr;
  screen = nullptr;
  shown = drawn = nullptr;
}

GrabResult ScreenGrabber::Impl::Prepare(const ScreenRect& area) {
  const std::int64_t width = static_cast<std::int64_t>(area.right) - area.left;
  const std::int64_t height = static_cast<std::int64_t>(area.bottom) - area.top;
  if (width <= 0 || height <= 0 || width * height > capacity) return GrabResult::Failed;
  if (PackedRowBytes(width) * height > 3 * capacity) return GrabResult::Failed;
  if (!screen && !Connect()) return GrabResult::NoDisplay;
  return GrabResult::Ok;
}

// The pointer as the user sees it, its hot spot on the pointer's position;
// nothing when it is hidden. DrawIconEx at the image's own size (DrawIcon
// would stretch it to the icon size) blends it as the screen does.
void ScreenGrabber::Impl::DrawCursor(const ScreenRect& area) {
  CURSORINFO info{};
  info.cbSize = sizeof info;
  if (!GetCursorInfo(&info) || !(info.flags & CURSOR_SHOWING) || !info.hCursor) return;
  if (info.hCursor != shown) {
    shown = info.hCursor;
    drawn = nullptr;
    ICONINFO icon{};
    // Where another process's pointer image cannot be read here (wine keeps
    // cursors per process), the standard arrow stands in for it, so that
    // the pointer's place still shows.
    HCURSOR image = info.hCursor;
    if (!GetIconInfo(image, &icon)) {
      image = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
      if (!image || !GetIconInfo(image, &icon)) return;
    }
    // GetIconInfo hands out copies of the image's bitmaps.
    if (icon.hbmMask) DeleteObject(icon.hbmMask);
    if (icon.hbmColor) DeleteObject(icon.hbmColor);
    drawn = image;
    hotX = static_cast<int>(icon.xHotspot);
    hotY = static_cast<int>(icon.yHotspot);
  }
  if (!drawn) return;
  DrawIconEx(memory, info.ptScreenPos.x - hotX - area.left, info.ptScreenPos.y - hotY - area.top, drawn, 0, 0, 0,
             nullptr, DI_NORMAL);
}

// Copies the part onScreen of area into target (its top-left corner is
// area's), with the pointer. The rest of target is left as it is.
bool ScreenGrabber::Impl::CopyScreen(HBITMAP target, const ScreenRect& area, const ScreenRect& onScreen,
                                     bool withCursor) {
  HGDIOBJ kept = SelectObject(memory, target);
  if (!kept || kept == HGDI_ERROR) return false;
  bool ok = true;
  if (onScreen.left < onScreen.right && onScreen.top < onScreen.bottom) {
    ok = BitBlt(memory, onScreen.left - area.left, onScreen.top - area.top, onScreen.right - onScreen.left,
                onScreen.bottom - onScreen.top, screen, onScreen.left, onScreen.top, kScreenCopy) != FALSE;
  }
  if (ok && withCursor) DrawCursor(area);
  // Out of the context again: GetDIBits needs the bitmap unselected.
  SelectObject(memory, kept);
  return ok;
}

// The system palette as a logical palette, for reading the pixels of a
// palette display; on a true-colour display its entries are unused.
HPALETTE ScreenGrabber::Impl::SystemPalette() {
  std::memset(palette.entries, 0, sizeof palette.entries);
  palette.version = 0x300;
  palette.count = 256;
  GetSystemPaletteEntries(screen, 0, 256, palette.entries);
  return CreatePalette(reinterpret_cast<const LOGPALETTE*>(&palette));
}

GrabResult ScreenGrabber::Impl::Grab(const ScreenRect& area, bool withCursor) {
  const GrabResult ready = Prepare(area);
  if (ready != GrabResult::Ok) return ready;
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  const std::int64_t rowBytes = PackedRowBytes(width);

  if (!bitmap || bitmapWidth != width || bitmapHeight != height) {
    if (bitmap) DeleteObject(bitmap);
    bitmap = CreateCompatibleBitmap(screen, width, height);
    bitmapWidth = bitmap ? width : 0;
    bitmapHeight = bitmap ? height : 0;
    if (!bitmap) return GrabResult::Failed;
  }
  // What lies off the screen comes out black.
  const ScreenRect desk = VirtualScreen();
  const ScreenRect onScreen{std::max(area.left, desk.left), std::max(area.top, desk.top),
                            std::min(area.right, desk.right), std::min(area.bottom, desk.bottom)};
  const bool covered = onScreen.left == area.left && onScreen.top == area.top && onScreen.right == area.right &&
                       onScreen.bottom == area.bottom;
  if (!covered) {
    HGDIOBJ kept = SelectObject(memory, bitmap);
    PatBlt(memory, 0, 0, width, height, BLACKNESS);
    SelectObject(memory, kept);
  }
  if (!CopyScreen(bitmap, area, onScreen, withCursor)) {
    Disconnect();  // a fresh context at the next grab
    nextConnectUs = 0;
    return GrabResult::Failed;
  }

  // The system palette matters only on a palette-based display; elsewhere
  // (every display of 16 bits and more) no palette object is made per grab.
  const bool paletted = (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0;
  HPALETTE pal = nullptr;
  HPALETTE previous = nullptr;
  if (paletted) {
    pal = SystemPalette();
    if (!pal) return GrabResult::Failed;
    previous = SelectPalette(screen, pal, FALSE);
    RealizePalette(screen);
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // positive: bottom-up rows, as the packed bitmap has them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<DWORD>(rowBytes * height);
  const int rows = GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), packed.get() + kPackedHeaderSize, &info,
                             DIB_RGB_COLORS);
  if (paletted) {
    SelectPalette(screen, previous, TRUE);
    RealizePalette(screen);
    DeleteObject(pal);
  }
  if (rows != height) return GrabResult::Failed;
  WritePackedHeader(packed.get(), width, height, rowBytes);
  return GrabResult::Ok;
}

GrabResult ScreenGrabber::Impl::GrabXrgb(const ScreenRect& area, XrgbImage* image, bool withCursor) {
  const GrabResult ready = Prepare(area);
  if (ready != GrabResult::Ok) return ready;
  const ScreenRect desk = VirtualScreen();
  if (area.left < desk.left || area.top < desk.top || area.right > desk.right || area.bottom > desk.bottom) {
    return GrabResult::Unsuitable;
  }
  // A palette display's pixels need the palette steps of Grab.
  if (GetDeviceCaps(screen, BITSPIXEL) <= 8) return GrabResult::Unsuitable;
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (!section || sectionWidth != width || sectionHeight != height) {
    if (section) DeleteObject(section);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // negative: top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    sectionBits = section ? static_cast<std::uint8_t*>(bits) : nullptr;
    sectionWidth = section ? width : 0;
    sectionHeight = section ? height : 0;
    if (!section) return GrabResult::Failed;
  }
  if (!CopyScreen(section, area, area, withCursor)) {
    Disconnect();
    nextConnectUs = 0;
    return GrabResult::Failed;
  }
  GdiFlush();  // the pixels are read directly from here on
  *image = XrgbImage{sectionBits, 4 * static_cast<std::int64_t>(width), width, height};
  return GrabResult::Ok;
}

ScreenGrabber::ScreenGrabber(std::int64_t capacityPixels, GrabMethod method)
    : impl_(new Impl(capacityPixels, method)) {}
ScreenGrabber::~ScreenGrabber() = default;

GrabResult ScreenGrabber::Grab(const ScreenRect& area, bool withCursor) { return impl_->Grab(area, withCursor); }
GrabResult ScreenGrabber::GrabXrgb(const ScreenRect& area, XrgbImage* image, bool withCursor) {
  return impl_->GrabXrgb(area, image, withCursor);
}

// GDI reports no drawing: every grab is of the whole area.
ScreenChange ScreenGrabber::Changes(const ScreenRect&, ScreenRect*, bool) { return ScreenChange::Whole; }
void ScreenGrabber::Completed(const ScreenRect&, bool) {}
bool ScreenGrabber::WaitForDrawing(std::int64_t) { return false; }

const std::uint8_t* ScreenGrabber::packed() const { return impl_->packed.get(); }
// One way of grabbing on Windows: the method asked for is the one in use.
GrabMethod ScreenGrabber::method() const { return impl_->wanted; }

}  // namespace plat
