// Capture on Windows (under wine on the X display): the planes of a capture
// of a window of known colours are the conversion of the GDI grab of it.
// (The grab itself is checked in the platform layer's Windows test.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
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

  auto owned = std::make_unique<CCapture>();  // its planes are far larger than a stack
  CCapture& capture = *owned;
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
