// The X11 grab: packed layout, both grab methods, areas past the screen,
// the pointer's image, a missing or lost display.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/screen_grab.h"
#include "test_screen.h"
#include "test_x_server.h"

using plat::GrabMethod;
using plat::GrabResult;
using plat::ScreenGrabber;
using plat::ScreenRect;

namespace {

const bool kServer = (plat_test::UsePrivateXServer(), true);
constexpr std::int64_t kCapacity = 3840 * 2160;
constexpr int kScreenW = 1920;
constexpr int kScreenH = 1080;

// The pixel at (x, y) of the area, counted from its top-left corner, in a
// packed bitmap (bottom-up rows).
const std::uint8_t* PixelAt(const std::uint8_t* packed, int x, int y) {
  plat::PackedInfo info = plat::ReadPackedHeader(packed);
  return packed + plat::kPackedHeaderSize + static_cast<std::int64_t>(info.height - 1 - y) * info.rowBytes + 3 * x;
}

// Counts the pixels of the area that differ from the test picture (black
// off the screen); skip is a rectangle of area coordinates left out.
int Mismatches(const std::uint8_t* packed, const ScreenRect& area, ScreenRect skip = {0, 0, 0, 0}) {
  int bad = 0;
  for (int y = 0; y < area.bottom - area.top; ++y) {
    for (int x = 0; x < area.right - area.left; ++x) {
      if (x >= skip.left && x < skip.right && y >= skip.top && y < skip.bottom) continue;
      int sx = area.left + x, sy = area.top + y;
      std::uint8_t want[3] = {0, 0, 0};
      if (sx >= 0 && sy >= 0 && sx < kScreenW && sy < kScreenH) plat_test::PatternBgr(sx, sy, want);
      if (std::memcmp(PixelAt(packed, x, y), want, 3) != 0) ++bad;
    }
  }
  return bad;
}

bool IsRed(const std::uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 255; }

class ScreenGrabTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(plat_test::PaintPattern()); }
  void SetUp() override {
    // A transparent pointer parked in a corner unless a test wants one.
    ASSERT_TRUE(plat_test::SetSquareCursor(8, 8, 0, 0, false));
    ASSERT_TRUE(plat_test::WarpPointer(kScreenW - 1, kScreenH - 1));
  }
};

TEST_F(ScreenGrabTest, WholeScreenWithSharedMemoryMatchesThePicture) {
  ScreenGrabber grabber(kCapacity);
  ScreenRect area{0, 0, kScreenW, kScreenH};
  ASSERT_EQ(grabber.Grab(area), GrabResult::Ok);
  EXPECT_EQ(grabber.method(), GrabMethod::SharedMemory);
  plat::PackedInfo info = plat::ReadPackedHeader(grabber.packed());
  EXPECT_EQ(info.headerSize, 40);
  EXPECT_EQ(info.width, kScreenW);
  EXPECT_EQ(info.height, kScreenH);
  EXPECT_EQ(info.bitCount, 24);
  EXPECT_EQ(info.rowBytes, 3 * kScreenW);
  const std::uint8_t* h = grabber.packed();
  EXPECT_EQ(h[12] | h[13] << 8, 1);  // planes
  std::uint32_t sizeImage = h[20] | h[21] << 8 | h[22] << 16 | static_cast<std::uint32_t>(h[23]) << 24;
  EXPECT_EQ(sizeImage, 3u * kScreenW * kScreenH);
  EXPECT_EQ(Mismatches(grabber.packed(), area), 0);
  // The segment is reused: a second grab of the same size gives the same.
  ASSERT_EQ(grabber.Grab(area), GrabResult::Ok);
  EXPECT_EQ(Mismatches(grabber.packed(), area), 0);
}

TEST_F(ScreenGrabTest, GetImageGivesTheSameBytesAsSharedMemory) {
  ScreenGrabber shm(kCapacity, GrabMethod::SharedMemory);
  ScreenGrabber core(kCapacity, GrabMethod::GetImage);
  ASSERT_TRUE(plat_test::SetSquareCursor(16, 16, 3, 3, true));
  ASSERT_TRUE(plat_test::WarpPointer(700, 300));
  for (ScreenRect area : {ScreenRect{0, 0, kScreenW, kScreenH}, ScreenRect{652, 248, 1016, 520},
                          ScreenRect{1800, 1000, 2000, 1100}}) {
    ASSERT_EQ(shm.Grab(area), GrabResult::Ok);
    ASSERT_EQ(core.Grab(area), GrabResult::Ok);
    EXPECT_EQ(shm.method(), GrabMethod::SharedMemory);
    EXPECT_EQ(core.method(), GrabMethod::GetImage);
    std::int64_t bytes = plat::kPackedHeaderSize + plat::PackedRowBytes(area.right - area.left) * (area.bottom - area.top);
    EXPECT_EQ(std::memcmp(shm.packed(), core.packed(), static_cast<size_t>(bytes)), 0);
  }
}

TEST_F(ScreenGrabTest, AreasPastTheScreenComeOutBlackThere) {
  ScreenGrabber grabber(kCapacity);
  // Past the right and bottom edges, before the left and top ones, wholly
  // outside, and a width whose rows need padding.
  for (ScreenRect area : {ScreenRect{1800, 1000, 2000, 1100}, ScreenRect{-40, -20, 60, 80},
                          ScreenRect{2000, 0, 2100, 50}, ScreenRect{10, 10, 15, 13}}) {
    ASSERT_EQ(grabber.Grab(area), GrabResult::Ok);
    EXPECT_EQ(Mismatches(grabber.packed(), area), 0) << area.left << "," << area.top;
  }
  // Padding bytes are zero.
  const std::uint8_t* row = PixelAt(grabber.packed(), 0, 0);
  EXPECT_EQ(row[15], 0);
}

TEST_F(ScreenGrabTest, ServerPixelsInPlaceMatchThePackedGrab) {
  ASSERT_TRUE(plat_test::SetSquareCursor(16, 16, 4, 9, true));
  ASSERT_TRUE(plat_test::WarpPointer(120, 90));
  ScreenRect area{100, 60, 420, 300};
  const int w = area.right - area.left, h = area.bottom - area.top;
  for (GrabMethod method : {GrabMethod::SharedMemory, GrabMethod::GetImage}) {
    ScreenGrabber grabber(kCapacity, method);
    ASSERT_EQ(grabber.Grab(area), GrabResult::Ok);
    std::vector<std::uint8_t> packed(grabber.packed(), grabber.packed() + plat::kPackedHeaderSize + 3 * w * h);
    plat::XrgbImage image{};
    ASSERT_EQ(grabber.GrabXrgb(area, &image), GrabResult::Ok);
    ASSERT_EQ(image.width, w);
    ASSERT_EQ(image.height, h);
    std::vector<std::uint8_t> row(3 * w);
    int bad = 0;
    for (int y = 0; y < h; ++y) {
      plat::PackXrgbRow(image.pixels + y * image.stride, row.data(), w);
      // The packed rows are bottom-up.
      bad += std::memcmp(row.data(), packed.data() + plat::kPackedHeaderSize + (h - 1 - y) * 3 * w, 3 * w) != 0;
    }
    EXPECT_EQ(bad, 0);
    EXPECT_TRUE(IsRed(image.pixels + (90 - 9 - area.top) * image.stride + 4 * (120 - 4 - area.left)));
  }
  // Areas off the screen need the packed grab's black fill.
  ScreenGrabber grabber(kCapacity);
  plat::XrgbImage image{};
  EXPECT_EQ(grabber.GrabXrgb({1800, 0, 1924, 100}, &image), GrabResult::Unsuitable);
  EXPECT_EQ(grabber.GrabXrgb({-4, 0, 100, 100}, &image), GrabResult::Unsuitable);
  EXPECT_EQ(grabber.GrabXrgb({0, 0, 1920, 1080}, &image), GrabResult::Ok);
}

TEST_F(ScreenGrabTest, RefusesAreasBeyondItsCapacityOrEmpty) {
  ScreenGrabber grabber(100 * 100);
  EXPECT_EQ(grabber.Grab({0, 0, 100, 101}), GrabResult::Failed);
  EXPECT_EQ(grabber.Grab({0, 0, 0, 10}), GrabResult::Failed);
  EXPECT_EQ(grabber.Grab({5, 5, 4, 10}), GrabResult::Failed);
  EXPECT_EQ(grabber.Grab({0, 0, 100, 100}), GrabResult::Ok);
}

TEST_F(ScreenGrabTest, PointerIsDrawnWithItsHotSpotOnThePointer) {
  const int kSide = 8, kHotX = 5, kHotY = 3, kPx = 100, kPy = 200;
  ASSERT_TRUE(plat_test::SetSquareCursor(kSide, kSide, kHotX, kHotY, true));
  ASSERT_TRUE(plat_test::WarpPointer(kPx, kPy));
  ScreenRect area{64, 128, 64 + 256, 128 + 256};
  for (GrabMethod method : {GrabMethod::SharedMemory, GrabMethod::GetImage}) {
    ScreenGrabber grabber(kCapacity, method);
    ASSERT_EQ(grabber.Grab(area), GrabResult::Ok);
    int x0 = kPx - kHotX - area.left, y0 = kPy - kHotY - area.top;
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) EXPECT_TRUE(IsRed(PixelAt(grabber.packed(), x0 + x, y0 + y))) << x << "," << y;
    }
    EXPECT_EQ(Mismatches(grabber.packed(), area, {x0, y0, x0 + kSide, y0 + kSide}), 0);
    // Without the pointer the picture is untouched.
    ASSERT_EQ(grabber.Grab(area, false), GrabResult::Ok);
    EXPECT_EQ(Mismatches(grabber.packed(), area), 0);
  }
}

TEST_F(ScreenGrabTest, PointerFollowsChangesAndIsCutAtTheAreaEdge) {
  ScreenGrabber grabber(kCapacity);
  ScreenRect area{400, 400, 500, 500};
  ASSERT_EQ(grabber.Grab(area), GrabResult::Ok);
  EXPECT_EQ(Mismatches(grabber.packed(), area), 0);  // transparent pointer
  // A new image while the grabber runs; the hot spot sits left of and
  // above the area, so only the lower right part shows.
  ASSERT_TRUE(plat_test::SetSquareCursor(10, 10, 0, 0, true));
  ASSERT_TRUE(plat_test::WarpPointer(396, 397));
  ASSERT_EQ(grabber.Grab(area), GrabResult::Ok);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 6; ++x) EXPECT_TRUE(IsRed(PixelAt(grabber.packed(), x, y))) << x << "," << y;
  }
  EXPECT_EQ(Mismatches(grabber.packed(), area, {0, 0, 6, 7}), 0);
  // Pointer outside the area: nothing drawn.
  ASSERT_TRUE(plat_test::WarpPointer(10, 10));
  ASSERT_EQ(grabber.Grab(area), GrabResult::Ok);
  EXPECT_EQ(Mismatches(grabber.packed(), area), 0);
}

TEST_F(ScreenGrabTest, HiddenPointerDrawsNothing) {
  ASSERT_TRUE(plat_test::SetSquareCursor(16, 16, 8, 8, true));
  ASSERT_TRUE(plat_test::WarpPointer(960, 540));
  ScreenGrabber grabber(kCapacity);
  ScreenRect area{900, 500, 1000, 600};
  ASSERT_EQ(grabber.Grab(area), GrabResult::Ok);
  EXPECT_GT(Mismatches(grabber.packed(), area), 0);
  ASSERT_TRUE(plat_test::SetSquareCursor(16, 16, 8, 8, false));
  ASSERT_EQ(grabber.Grab(area), GrabResult::Ok);
  EXPECT_EQ(Mismatches(grabber.packed(), area), 0);
}

// Restores DISPLAY when a test changes it.
class DisplayOverride {
 public:
  explicit DisplayOverride(const char* value) : saved_(getenv("DISPLAY") ? getenv("DISPLAY") : "") {
    if (value == nullptr) {
      unsetenv("DISPLAY");
    } else {
      setenv("DISPLAY", value, 1);
    }
  }
  ~DisplayOverride() { setenv("DISPLAY", saved_.c_str(), 1); }

 private:
  std::string saved_;
};

TEST(ScreenGrabDisplayTest, NoDisplayThenOneAppearing) {
  ScreenGrabber grabber(kCapacity);
  {
    DisplayOverride none(nullptr);
    EXPECT_EQ(grabber.Grab({0, 0, 64, 64}), GrabResult::NoDisplay);
    EXPECT_EQ(grabber.Grab({0, 0, 64, 64}), GrabResult::NoDisplay);
  }
  // The grabber tries again, at most once a second.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(grabber.Grab({0, 0, 64, 64}), GrabResult::Ok);
}

TEST(ScreenGrabDisplayTest, ServerWithoutSharedMemoryFallsBackToGetImage) {
  plat_test::TestXServer plain;
  ASSERT_TRUE(plain.Start("320x240x24", {"-extension", "MIT-SHM"})) << plain.error();
  DisplayOverride use(plain.display().c_str());
  ASSERT_TRUE(plat_test::PaintPattern());
  ScreenGrabber grabber(kCapacity);
  ScreenRect area{0, 0, 320, 240};
  ASSERT_EQ(grabber.Grab(area, false), GrabResult::Ok);
  EXPECT_EQ(grabber.method(), GrabMethod::GetImage);
  for (int y = 0; y < 240; y += 7) {
    for (int x = 0; x < 320; x += 5) {
      std::uint8_t want[3];
      plat_test::PatternBgr(x, y, want);
      ASSERT_EQ(std::memcmp(PixelAt(grabber.packed(), x, y), want, 3), 0) << x << "," << y;
    }
  }
  ScreenGrabber shmOnly(kCapacity, GrabMethod::SharedMemory);
  EXPECT_EQ(shmOnly.Grab(area, false), GrabResult::Failed);
}

TEST(ScreenGrabDisplayTest, LostServerIsReportedAndSurvived) {
  plat_test::TestXServer second;
  ASSERT_TRUE(second.Start("640x480x24")) << second.error();
  DisplayOverride use(second.display().c_str());
  ScreenGrabber grabber(kCapacity);
  ASSERT_EQ(grabber.Grab({0, 0, 640, 480}), GrabResult::Ok);
  second.Stop();
  // Xlib would end the process here by default.
  EXPECT_EQ(grabber.Grab({0, 0, 640, 480}), GrabResult::NoDisplay);
  EXPECT_EQ(grabber.Grab({0, 0, 640, 480}), GrabResult::NoDisplay);
}

}  // namespace
