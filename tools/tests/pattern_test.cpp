// The test pattern: its stamp survives the trip through luma, its content
// is a function of the frame counter and the size alone and survives
// scaling, and the window puts whole stamped frames on the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "pattern.h"
#include "pattern_window.h"
#include "platform/clock.h"
#include "platform/screen_grab.h"
#include "platform/thread.h"
#include "test_x_server.h"

namespace {

struct Picture {
  int width, height;
  std::vector<std::uint8_t> bgrx;
  Picture(int w, int h) : width(w), height(h), bgrx(static_cast<std::size_t>(w) * h * 4) {}
  std::uint8_t* data() { return bgrx.data(); }
  std::ptrdiff_t stride() const { return std::ptrdiff_t{width} * 4; }
  std::vector<std::uint8_t> luma() const {
    std::vector<std::uint8_t> y(static_cast<std::size_t>(width) * height);
    pattern::bgrxToLuma(bgrx.data(), stride(), width, height, y.data(), width);
    return y;
  }
};

Picture rendered(std::uint16_t counter, int w, int h) {
  Picture p(w, h);
  pattern::Renderer r;
  r.render(counter, w, h, p.data(), p.stride());
  return p;
}

TEST(PatternStamp, ReadsBackAtEverySizeAndRejectsDamage) {
  const pattern::Stamp stamps[] = {{0, 0}, {0xFFFFFFFFu, 0xFFFF}, {0x80000001u, 0x8001}, {123456789u, 4321}};
  for (int width : {64, 176, 640, 1280, 1366, 1920}) {
    for (const pattern::Stamp& s : stamps) {
      Picture p = rendered(s.counter, width, 100);
      pattern::drawStamp(s, width, p.data(), p.stride());
      std::vector<std::uint8_t> y = p.luma();
      pattern::Stamp got;
      ASSERT_TRUE(pattern::readStamp(y.data(), width, width, 100, &got)) << width;
      EXPECT_EQ(got.ms, s.ms) << width;
      EXPECT_EQ(got.counter, s.counter) << width;
    }
  }
  // A flipped cell anywhere (sync, stamp, counter or check) is caught.
  const int width = 640, c = width / 64;
  Picture p(width, 40);
  pattern::drawStamp(stamps[3], width, p.data(), p.stride());
  for (int cell : {0, 3, 10, 40, 55, 63}) {
    std::vector<std::uint8_t> y = p.luma();
    for (int row = 0; row < c; ++row)
      for (int x = cell * c; x < (cell + 1) * c; ++x) y[row * width + x] = y[row * width + x] > 128 ? 16 : 235;
    pattern::Stamp got;
    EXPECT_FALSE(pattern::readStamp(y.data(), width, width, 40, &got)) << "cell " << cell;
  }
  // The stamp row is c = W / 64 rows high, and nothing below it changes.
  EXPECT_EQ(pattern::stampRows(1920), 30);
  EXPECT_EQ(pattern::stampRows(1366), 22);
  Picture plain = rendered(7, 1366, 60);
  Picture stamped = plain;
  pattern::drawStamp(stamps[1], 1366, stamped.data(), stamped.stride());
  const std::size_t rowBytes = 1366 * 4;
  EXPECT_TRUE(std::equal(plain.bgrx.begin() + 22 * rowBytes, plain.bgrx.end(), stamped.bgrx.begin() + 22 * rowBytes));
  EXPECT_FALSE(std::equal(plain.bgrx.begin(), plain.bgrx.begin() + 22 * rowBytes, stamped.bgrx.begin()));
}

// Samples a picture at the centre of each destination pixel, bilinearly: a
// plain scaler to compare against rendering at the smaller size.
std::vector<std::uint8_t> scaledLuma(const Picture& src, int w, int h) {
  std::vector<std::uint8_t> y = src.luma(), out(static_cast<std::size_t>(w) * h);
  for (int j = 0; j < h; ++j) {
    const double sy = std::clamp((j + 0.5) * src.height / h - 0.5, 0.0, src.height - 1.001);
    const int y0 = static_cast<int>(sy);
    const double fy = sy - y0;
    for (int i = 0; i < w; ++i) {
      const double sx = std::clamp((i + 0.5) * src.width / w - 0.5, 0.0, src.width - 1.001);
      const int x0 = static_cast<int>(sx);
      const double fx = sx - x0;
      auto at = [&](int x, int yy) { return double(y[yy * src.width + x]); };
      const double v = (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) +
                       fy * ((1 - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1));
      out[j * w + i] = static_cast<std::uint8_t>(v + 0.5);
    }
  }
  return out;
}

TEST(PatternContent, DependsOnCounterAndSizeOnlyAndSurvivesScaling) {
  Picture a = rendered(1234, 640, 360), b = rendered(1234, 640, 360);
  EXPECT_EQ(a.bgrx, b.bgrx);
  // One renderer drawing other frames and sizes in between gives the same.
  pattern::Renderer r;
  Picture c(640, 360), other(1920, 1080);
  r.render(9, 1920, 1080, other.data(), other.stride());
  r.render(1234, 640, 360, c.data(), c.stride());
  EXPECT_EQ(a.bgrx, c.bgrx);
  // Frames differ, and so do neighbours: the content moves.
  Picture next = rendered(1235, 640, 360);
  std::vector<std::uint8_t> ya = a.luma(), yn = next.luma();
  const double neighbours = pattern::lumaPsnr(ya.data(), 640, yn.data(), 640, 640, 10, 360);
  EXPECT_LT(neighbours, 60.0);
  Picture far = rendered(1234 + 90, 640, 360);
  std::vector<std::uint8_t> yf = far.luma();
  EXPECT_LT(pattern::lumaPsnr(ya.data(), 640, yf.data(), 640, 640, 10, 360), 25.0);

  // Scaled down from the screen, a frame matches the same frame rendered at
  // the smaller size (any aspect): the e2e check depends on this.
  for (auto size : {std::pair{1280, 720}, std::pair{640, 480}, std::pair{352, 288}}) {
    Picture screen = rendered(500, 1920, 1080);
    std::vector<std::uint8_t> scaled = scaledLuma(screen, size.first, size.second);
    std::vector<std::uint8_t> direct = rendered(500, size.first, size.second).luma();
    const double psnr = pattern::lumaPsnr(scaled.data(), size.first, direct.data(), size.first, size.first, 0,
                                          size.second);
    EXPECT_GT(psnr, 38.0) << size.first << "x" << size.second;
  }
}

// A private screen for the window tests, small so that grabs are cheap.
class PatternWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new plat_test::TestXServer;
    ASSERT_TRUE(server_->Start("640x360x24")) << server_->error();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  static plat_test::TestXServer* server_;
};
plat_test::TestXServer* PatternWindowTest::server_ = nullptr;

TEST_F(PatternWindowTest, PutsWholeStampedFramesOnTheScreen) {
  ASSERT_FALSE(server_->display().empty());
  setenv("DISPLAY", server_->display().c_str(), 1);
  pattern::PatternWindowOptions o;
  o.fps = 50;
  pattern::PatternWindow w(o);
  std::string error;
  ASSERT_TRUE(w.start(&error)) << error;
  EXPECT_EQ(w.width(), 640);
  EXPECT_EQ(w.height(), 360);
  // A second start is refused and leaves the running window alone.
  std::string again;
  EXPECT_FALSE(w.start(&again));
  EXPECT_NE(again.find("only once"), std::string::npos) << again;
  EXPECT_TRUE(w.running());

  plat::ScreenGrabber grabber(640 * 360);
  Picture shot(640, 360);
  int previous = -1, distinct = 0;
  for (int i = 0; i < 8; ++i) {
    plat::XrgbImage image;
    ASSERT_EQ(grabber.GrabXrgb({0, 0, 640, 360}, &image), plat::GrabResult::Ok);
    for (int y = 0; y < 360; ++y)
      std::copy_n(image.pixels + y * image.stride, 640 * 4, shot.data() + y * shot.stride());
    std::vector<std::uint8_t> luma = shot.luma();
    pattern::Stamp s;
    ASSERT_TRUE(pattern::readStamp(luma.data(), 640, 640, 360, &s)) << "grab " << i;
    const std::uint32_t nowMs = static_cast<std::uint32_t>(plat::monotonicUs() / 1000);
    EXPECT_LT(nowMs - s.ms, 2000u) << "the stamp is the draw time";
    // Whole frames: below the stamp the screen is exactly the frame the stamp names,
    // pointer included (it is invisible over the window).
    Picture expected = rendered(s.counter, 640, 360);
    const std::size_t from = 10 * 640 * 4;
    for (std::size_t k = from; k < shot.bgrx.size(); k += 4) {
      ASSERT_TRUE(std::equal(shot.bgrx.begin() + k, shot.bgrx.begin() + k + 3, expected.bgrx.begin() + k))
          << "grab " << i << " frame " << s.counter << " pixel " << (k / 4) % 640 << "," << (k / 4) / 640;
    }
    if (int(s.counter) != previous) ++distinct;
    previous = s.counter;
    plat::sleepMs(45);
  }
  EXPECT_GE(distinct, 5) << "the frames move on";
  w.stop();
  EXPECT_FALSE(w.running());
  EXPECT_GT(w.framesDrawn(), 8u);
}

TEST_F(PatternWindowTest, StillFrameStaysAndTimedRunEndsByItself) {
  setenv("DISPLAY", server_->display().c_str(), 1);
  pattern::PatternWindowOptions o;
  o.still = true;
  o.seconds = 0.5;
  pattern::PatternWindow w(o);
  std::string error;
  ASSERT_TRUE(w.start(&error)) << error;
  plat::sleepMs(200);
  EXPECT_EQ(w.framesDrawn(), 1u);
  const std::int64_t t0 = plat::monotonicUs();
  w.join();
  EXPECT_LT(plat::monotonicUs() - t0, 2000000);
  EXPECT_FALSE(w.running());
  EXPECT_EQ(w.framesDrawn(), 1u);

  pattern::PatternWindowOptions bad;
  bad.display = ":999";
  pattern::PatternWindow none(bad);
  EXPECT_FALSE(none.start(&error));
  EXPECT_NE(error.find("cannot open display :999"), std::string::npos) << error;
}

}  // namespace
