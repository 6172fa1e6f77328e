// The Windows back-end under a real Winsock and GDI (wine on a private X
// server in CI): what callers rely on that differs from the POSIX one.
// A plain program: it prints each failed check and exits non-zero.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/net.h"
#include "platform/screen_grab.h"
#include "platform/screen_metrics.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "platform/timer.h"

namespace {

int failures = 0;
#define CHECK(c)                                                     \
  do {                                                               \
    if (!(c)) {                                                      \
      std::printf("FAILED %s:%d: %s\n", __FILE__, __LINE__, #c);     \
      ++failures;                                                    \
    }                                                                \
  } while (0)

const char* const kAddress = "127.0.150.2";
constexpr std::uint16_t kPort = 5001;

// A non-blocking connect, the bytes both ways exact, and the two endings
// that Winsock reports unlike POSIX: a failed connect, and shutdownBoth.
void Sockets() {
  CHECK(plat::netStartup());
  plat::Socket listener = plat::listenTcp(kAddress, kPort);
  CHECK(listener != plat::kInvalidSocket);

  plat::Socket s = plat::tcpSocket();
  CHECK(plat::setNonBlocking(s, true));
  CHECK(plat::setSendBufferSize(s, 131072) && plat::setReceiveBufferSize(s, 131072));
  const int r = plat::connectIPv4(s, plat::ipv4FromText(kAddress), kPort);
  CHECK(r == 0 || plat::lastNetError() == plat::NetError::WouldBlock);
  CHECK(plat::waitWritable(s, 2000000) > 0);
  plat::Socket peer = plat::acceptConnection(listener, 2000000);
  CHECK(peer != plat::kInvalidSocket);

  // More than both buffers hold: sends would-block until the peer reads.
  std::vector<unsigned char> out(1 << 20), in(out.size());
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>(i * 7 + i / 251);
  std::size_t sent = 0, got = 0;
  const std::int64_t until = plat::monotonicUs() + 10000000;
  while (got < in.size() && plat::monotonicUs() < until) {
    if (sent < out.size()) {
      const long n = plat::sendSome(s, out.data() + sent, out.size() - sent);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (n < 0) CHECK(plat::lastNetError() == plat::NetError::WouldBlock);
    }
    if (plat::waitReadable(peer, 1000) > 0) {
      const long n = plat::recvSome(peer, in.data() + got, in.size() - got);
      if (n > 0) got += static_cast<std::size_t>(n);
    }
  }
  CHECK(got == in.size() && in == out);
  CHECK(plat::unsentBytes(s) == -1);  // Winsock cannot tell

  // shutdownBoth: the reader of this side, waiting in short passes, sees end
  // of stream; further sends fail at once.
  struct Reader {
    plat::Socket s;
    std::atomic<long> result{-9};
  } reader{s};
  plat::Thread t = plat::startThread(
      [](void* p) -> std::uint32_t {
        auto* rd = static_cast<Reader*>(p);
        const std::int64_t end = plat::monotonicUs() + 3000000;
        while (plat::monotonicUs() < end && plat::waitReadable(rd->s, 40000) == 0) {
        }
        char b[4];
        rd->result = plat::recvSome(rd->s, b, sizeof b);
        return 0;
      },
      &reader);
  CHECK(t.valid());
  plat::sleepMs(100);
  plat::shutdownBoth(s);
  plat::joinThread(t);
  CHECK(reader.result == 0);
  CHECK(plat::sendSome(s, "x", 1) < 0);
  plat::closeSocket(s);
  plat::closeSocket(peer);
  plat::closeSocket(listener);

  // Nothing listens there any more: the connect fails, which Winsock shows
  // only in the exception set. Never writable: the wait uses its time-out.
  plat::Socket f = plat::tcpSocket();
  plat::setNonBlocking(f, true);
  CHECK(plat::connectIPv4(f, plat::ipv4FromText(kAddress), kPort) == -1);
  const std::int64_t t0 = plat::monotonicUs();
  const int w = plat::waitWritable(f, 300000);
  CHECK(w == 0);
  CHECK(plat::monotonicUs() - t0 >= 290000);
  CHECK(plat::waitReady(f, plat::Readiness::Writable, 300000) > 0);  // the error counts as ready
  plat::closeSocket(f);
  plat::netCleanup();
}

// The multimedia timer sets the event about once a period and never after
// stop.
void Timer() {
  plat::AutoResetEvent tick;
  plat::PeriodicTimer timer;
  CHECK(timer.start(33, &tick));
  int ticks = 0;
  const std::int64_t t0 = plat::monotonicUs();
  while (plat::monotonicUs() - t0 < 1000000) {
    if (tick.wait(100)) ++ticks;
  }
  timer.stop();
  std::printf("33 ms timer: %d ticks in 1 s\n", ticks);
  CHECK(ticks >= 20 && ticks <= 31);  // a loaded machine loses ticks, never gains them
  tick.wait(0);
  CHECK(!tick.wait(150));
  CHECK(!timer.running());
}

// A window of four known colours, one a quadrant; the pointer over it.
const COLORREF kQuadrants[4] = {RGB(0x12, 0x34, 0x56), RGB(0xc0, 0x20, 0x30), RGB(0x20, 0xa0, 0x40),
                                RGB(0x40, 0x50, 0xe0)};
constexpr int kWinX = 200, kWinY = 150, kWinW = 256, kWinH = 128;

LRESULT CALLBACK PaintQuadrants(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != WM_PAINT) return DefWindowProcW(w, msg, wp, lp);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(w, &ps);
  for (int q = 0; q < 4; ++q) {
    RECT r{(q % 2) * kWinW / 2, (q / 2) * kWinH / 2, (q % 2 + 1) * kWinW / 2, (q / 2 + 1) * kWinH / 2};
    HBRUSH b = CreateSolidBrush(kQuadrants[q]);
    FillRect(dc, &r, b);
    DeleteObject(b);
  }
  EndPaint(w, &ps);
  return 0;
}

void Pump(int ms) {
  const std::int64_t end = plat::monotonicUs() + ms * 1000LL;
  while (plat::monotonicUs() < end) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    Sleep(10);
  }
}

// The colour at (x, y) of the area, top-down, from the packed bitmap.
COLORREF PackedAt(const std::uint8_t* packed, int x, int y) {
  const plat::PackedInfo info = plat::ReadPackedHeader(packed);
  const std::uint8_t* p = packed + plat::kPackedHeaderSize + (info.height - 1 - y) * info.rowBytes + 3 * x;
  return RGB(p[2], p[1], p[0]);
}

COLORREF XrgbAt(const plat::XrgbImage& img, int x, int y) {
  const std::uint8_t* p = img.pixels + y * img.stride + 4 * x;
  return RGB(p[2], p[1], p[0]);
}

void Capture() {
  plat::ScreenMetrics metrics{};
  CHECK(plat::QueryScreenMetrics(&metrics));
  CHECK(metrics.primary.left == 0 && metrics.primary.top == 0 && metrics.primary.right > kWinX + kWinW);

  WNDCLASSW wc{};
  wc.lpfnWndProc = &PaintQuadrants;
  wc.hInstance = GetModuleHandleW(nullptr);
  // A cross: its hot spot is its centre, not its top-left corner.
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_CROSS));
  wc.lpszClassName = L"TandeoGrabTest";
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, kWinX,
                           kWinY, kWinW, kWinH, nullptr, nullptr, wc.hInstance, nullptr);
  CHECK(w != nullptr);
  SetCursorPos(metrics.primary.right - 2, metrics.primary.bottom - 2);  // out of the way
  UpdateWindow(w);
  Pump(500);

  // The area starts 8 pixels left of and above the window.
  const plat::ScreenRect area{kWinX - 8, kWinY - 8, kWinX + kWinW, kWinY + kWinH};
  plat::ScreenGrabber grabber(1920 * 1080);
  CHECK(grabber.Grab(area, false) == plat::GrabResult::Ok);
  const plat::PackedInfo info = plat::ReadPackedHeader(grabber.packed());
  CHECK(info.headerSize == 40 && info.bitCount == 24 && info.width == kWinW + 8 && info.height == kWinH + 8);
  plat::XrgbImage img{};
  CHECK(grabber.GrabXrgb(area, &img, false) == plat::GrabResult::Ok);
  CHECK(img.width == kWinW + 8 && img.height == kWinH + 8);
  for (int q = 0; q < 4; ++q) {
    // Near each quadrant's corners, in area coordinates.
    const int x0 = 8 + (q % 2) * kWinW / 2, y0 = 8 + (q / 2) * kWinH / 2;
    for (int c = 0; c < 4; ++c) {
      const int x = x0 + (c % 2 ? kWinW / 2 - 1 : 0), y = y0 + (c / 2 ? kWinH / 2 - 1 : 0);
      CHECK(PackedAt(grabber.packed(), x, y) == kQuadrants[q]);
      CHECK(XrgbAt(img, x, y) == kQuadrants[q]);
    }
  }

  // Off the screen's right and bottom edges: black there, and the grab
  // without packing declines the area.
  const plat::ScreenRect edge{metrics.desktop.right - 16, metrics.desktop.bottom - 16, metrics.desktop.right + 16,
                              metrics.desktop.bottom + 16};
  CHECK(grabber.GrabXrgb(edge, &img) == plat::GrabResult::Unsuitable);
  CHECK(grabber.Grab(edge, false) == plat::GrabResult::Ok);
  CHECK(PackedAt(grabber.packed(), 31, 31) == RGB(0, 0, 0) && PackedAt(grabber.packed(), 20, 5) == RGB(0, 0, 0));

  // The pointer (the window's cross) on the window: drawn centred on its
  // hot spot, and the same in both grabs.
  const int hotX = kWinX + 40, hotY = kWinY + 30;
  SetCursorPos(hotX, hotY);
  Pump(200);
  CHECK(grabber.GrabXrgb(area, &img, true) == plat::GrabResult::Ok);
  int minX = img.width, minY = img.height, maxX = -1, maxY = -1, changed = 0;
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) {
      const COLORREF expect = x < 8 || y < 8 ? XrgbAt(img, x, y) : kQuadrants[(x - 8 >= kWinW / 2) + 2 * (y - 8 >= kWinH / 2)];
      if (XrgbAt(img, x, y) == expect) continue;
      ++changed;
      minX = std::min(minX, x);
      minY = std::min(minY, y);
      maxX = std::max(maxX, x);
      maxY = std::max(maxY, y);
    }
  }
  std::printf("pointer: %d pixels in %d..%d x %d..%d (hot spot at %d,%d)\n", changed, minX, maxX, minY, maxY,
              hotX - area.left, hotY - area.top);
  CHECK(changed > 20);
  CHECK(std::abs((minX + maxX) / 2 - (hotX - area.left)) <= 1 && std::abs((minY + maxY) / 2 - (hotY - area.top)) <= 1);
  std::vector<COLORREF> withPointer;
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) withPointer.push_back(XrgbAt(img, x, y));
  }
  CHECK(grabber.Grab(area, true) == plat::GrabResult::Ok);
  int differ = 0;
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) differ += PackedAt(grabber.packed(), x, y) != withPointer[y * img.width + x];
  }
  CHECK(differ == 0);
  DestroyWindow(w);
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  Sockets();
  Timer();
  Capture();
  std::printf("%s\n", failures ? "FAILED" : "passed");
  return failures ? 1 : 0;
}
