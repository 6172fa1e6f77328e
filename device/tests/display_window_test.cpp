// The --display window: pictures are taken from the handoff, converted and
// scaled to fit with their shape kept, the rest of the window black.
#include "device/display_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(DisplayWindow, ShowsTheLatestPictureScaledToFit) {
  static char name[] = "device_display_test";
  static char* argv[] = {name, nullptr};
  int argc = 1;
  QApplication app(argc, argv);
  device::PictureHandoff handoff;
  device::DisplayWindow window(handoff);
  window.resize(400, 400);
  window.show();

  // 320x180: white on the left half, mid grey on the right.
  const int w = 320, h = 180;
  std::vector<std::uint8_t> y(w * h), c(w * h / 4, 128);
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) y[row * w + x] = x < w / 2 ? 235 : 126;
  handoff.put(device::DecodedFrame{w, h, y.data(), c.data(), c.data(), w, w / 2, true, 0, 0, -1, 0});

  QElapsedTimer clock;
  clock.start();
  while (!window.windowTitle().contains("320x180") && clock.elapsed() < 3000) app.processEvents();
  ASSERT_TRUE(window.windowTitle().contains("320x180")) << window.windowTitle().toStdString();
  app.processEvents();
  const QImage shot = window.grab().toImage();
  ASSERT_EQ(shot.width(), 400);
  // 400 wide keeps 16:9 at 225 high, centred: black above and below.
  auto grey = [&](int x, int yy) { return qGray(shot.pixel(x, yy)); };
  EXPECT_LT(grey(200, 40), 10);
  EXPECT_LT(grey(200, 360), 10);
  EXPECT_GT(grey(100, 200), 240);
  EXPECT_NEAR(grey(300, 200), 128, 16);
  EXPECT_GT(grey(100, 90), 240);  // the picture's first rows
  EXPECT_LT(grey(100, 84), 10);   // just above it
}

}  // namespace
