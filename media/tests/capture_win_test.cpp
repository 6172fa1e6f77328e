// Capture on Windows (under wine on the X display): a window of known
// colours painted through GDI comes back from the GDI grab pixel for pixel,
// partly off-screen areas come out black, the pointer is drawn with its hot
// spot where it is, and the capture's planes are the conversion of that grab.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "media/capture.h"
#include "media/scaler.h"
#include "platform/screen_grab.h"

namespace {

constexpr COLORREF kRed = RGB(220, 20, 30);
constexpr COLORREF kBlue = RGB(10, 40, 200);
constexpr COLORREF kGreen = RGB(30, 180, 60);
constexpr RECT kGreenBox{200, 200, 300, 300};

LRESULT CALLBACK PaintProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    RECT left = client, right = client;
    left.right = right.left = client.right / 2;
    auto fill = [dc](const RECT& r, COLORREF c) {
      HBRUSH b = CreateSolidBrush(c);
      FillRect(dc, &r, b);
      DeleteObject(b);
    };
    fill(left, kRed);
    fill(right, kBlue);
    fill(kGreenBox, kGreen);
    EndPaint(hwnd, &ps);
    return 0;
  }
  if (msg == WM_SETCURSOR) {
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    return TRUE;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void Pump(int ms) {
  const DWORD end = GetTickCount() + ms;
  while (GetTickCount() < end) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    Sleep(10);
  }
}

// The pixel at (x, y) of a packed grab as 0xRRGGBB.
std::uint32_t PixelAt(const std::uint8_t* packed, int x, int y) {
  const plat::PackedInfo info = plat::ReadPackedHeader(packed);
  const std::uint8_t* p =
      packed + plat::kPackedHeaderSize + std::int64_t(info.height - 1 - y) * info.rowBytes + 3 * x;
  return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

std::uint32_t Rgb(COLORREF c) { return std::uint32_t(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c); }

class GdiGrab : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = PaintProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TandeoGrabTest";
    RegisterClassW(&wc);
    width_ = GetSystemMetrics(SM_CXSCREEN);
    height_ = GetSystemMetrics(SM_CYSCREEN);
    window_ = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"grab test", WS_POPUP | WS_VISIBLE, 0, 0, width_,
                              height_, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
    UpdateWindow(window_);
    Pump(1500);
  }
  void TearDown() override {
    if (window_) DestroyWindow(window_);
  }

  HWND window_ = nullptr;
  int width_ = 0, height_ = 0;
};

TEST_F(GdiGrab, KnownColoursComeBackAtTheirPlacesAndOffScreenIsBlack) {
  plat::ScreenGrabber grabber(std::int64_t(width_) * height_);
  ASSERT_EQ(grabber.Grab(plat::ScreenRect{0, 0, width_, height_}, false), plat::GrabResult::Ok);
  const plat::PackedInfo info = plat::ReadPackedHeader(grabber.packed());
  EXPECT_EQ(info.width, width_);
  EXPECT_EQ(info.height, height_);
  EXPECT_EQ(info.bitCount, 24);
  EXPECT_EQ(PixelAt(grabber.packed(), 50, height_ - 50), Rgb(kRed));
  EXPECT_EQ(PixelAt(grabber.packed(), width_ - 50, 50), Rgb(kBlue));
  EXPECT_EQ(PixelAt(grabber.packed(), 250, 250), Rgb(kGreen));
  EXPECT_EQ(PixelAt(grabber.packed(), 199, 250), Rgb(kRed)) << "the green box starts at x = 200";

  // An area of the box, its top-left corner 10 pixels off the screen.
  ASSERT_EQ(grabber.Grab(plat::ScreenRect{-10, -10, 300, 300}, false), plat::GrabResult::Ok);
  EXPECT_EQ(PixelAt(grabber.packed(), 5, 5), 0u) << "off the screen";
  EXPECT_EQ(PixelAt(grabber.packed(), 215, 215), Rgb(kGreen));
  EXPECT_EQ(PixelAt(grabber.packed(), 10, 10), Rgb(kRed));
}

TEST_F(GdiGrab, ThePointerIsDrawnAtItsHotSpot) {
  // On the red half, away from the box; the arrow's hot spot is its tip.
  const int x = 500, y = height_ / 2;
  SetCursorPos(x, y);
  Pump(500);
  POINT at;
  ASSERT_TRUE(GetCursorPos(&at));
  ASSERT_EQ(at.x, x);
  ASSERT_EQ(at.y, y);
  plat::ScreenGrabber grabber(std::int64_t(width_) * height_);
  const plat::ScreenRect area{0, 0, width_, height_};
  ASSERT_EQ(grabber.Grab(area, true), plat::GrabResult::Ok);
  // The arrow covers a few pixels right and below its tip, nothing left or above.
  int changed = 0;
  for (int dy = 0; dy < 12; ++dy)
    for (int dx = 0; dx < 6; ++dx) changed += PixelAt(grabber.packed(), x + dx, y + dy) != Rgb(kRed);
  EXPECT_GT(changed, 10) << "no pointer drawn right and below the hot spot";
  for (int d = 2; d < 10; ++d) {
    EXPECT_EQ(PixelAt(grabber.packed(), x - d, y - d), Rgb(kRed)) << "drawn above and left of the tip";
  }
  ASSERT_EQ(grabber.Grab(area, false), plat::GrabResult::Ok);
  EXPECT_EQ(PixelAt(grabber.packed(), x + 1, y + 3), Rgb(kRed)) << "pointer drawn though not asked for";
}

TEST_F(GdiGrab, CapturePlanesAreTheConversionOfTheGrab) {
  // The pointer away from the area, so that both grabs see the same pixels.
  SetCursorPos(width_ - 5, height_ - 5);
  Pump(300);
  const int w = 640, h = 480;
  plat::ScreenGrabber grabber(std::int64_t(w) * h);
  ASSERT_EQ(grabber.Grab(plat::ScreenRect{0, 0, w, h}, false), plat::GrabResult::Ok);
  std::vector<std::uint8_t> y(w * h), u(w * h / 4), v(w * h / 4);
  Rgb24ToI420(grabber.packed() + plat::kPackedHeaderSize, y.data(), u.data(), v.data(), w, h, w, w / 2,
              std::int32_t(plat::PackedRowBytes(w)), true);

  CCapture capture;
  const CaptureRect area{0, 0, w, h};
  SetCaptureArea(&capture, &area);
  capture.setOutputSize(w, h);
  capture.CaptureFrame();
  ASSERT_EQ(capture.grabSize().width, w);
  ASSERT_EQ(capture.frameSize().width, w);
  EXPECT_EQ(std::vector<std::uint8_t>(capture.fullY(), capture.fullY() + y.size()), y);
  EXPECT_EQ(std::vector<std::uint8_t>(capture.fullU(), capture.fullU() + u.size()), u);
  EXPECT_EQ(std::vector<std::uint8_t>(capture.fullV(), capture.fullV() + v.size()), v);
  // Equal sizes: the scaled planes are the full ones.
  EXPECT_EQ(std::vector<std::uint8_t>(capture.scaledY(), capture.scaledY() + y.size()), y);
  // The green box is green in the planes too: its luma differs from the red around it.
  EXPECT_NE(y[250 * w + 250], y[100 * w + 100]);
}

}  // namespace
