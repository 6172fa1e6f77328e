// The capture object on a private X server: area rules, the grabbed and
// scaled planes against the conversion and scaler run on the known picture,
// the pointer, both grab methods, and a steady output size across threads.
#include <gtest/gtest.h>

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "media/capture.h"
#include "media/scaler.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "test_screen.h"
#include "test_x_server.h"

namespace {

const bool kServer = (plat_test::UsePrivateXServer(), true);
constexpr int kScreenW = 1920;
constexpr int kScreenH = 1080;

// A square of pointer drawn into an expected picture, in desktop pixels.
struct RedSquare {
  int left, top, side;
};

// The I420 picture that the capture should produce for a grabbed rectangle
// of the test picture (black off the screen), optionally with a red square
// where the pointer is, at full size and scaled to out.
struct Expected {
  int width, height;
  std::vector<std::uint8_t> y, u, v;
  std::vector<std::uint8_t> sy, su, sv;
};

Expected Expect(CaptureRect grabbed, CCapture::Size out, const RedSquare* square = nullptr) {
  Expected e;
  e.width = grabbed.right - grabbed.left;
  e.height = grabbed.bottom - grabbed.top;
  const int w = e.width, h = e.height;
  std::vector<std::uint8_t> rows(static_cast<size_t>(3) * w * h);  // bottom-up, like the grab
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int sx = grabbed.left + x, sy = grabbed.top + y;
      std::uint8_t* px = &rows[(static_cast<size_t>(h - 1 - y) * w + x) * 3];
      std::memset(px, 0, 3);
      if (sx >= 0 && sy >= 0 && sx < kScreenW && sy < kScreenH) plat_test::PatternBgr(sx, sy, px);
      if (square && sx >= square->left && sx < square->left + square->side && sy >= square->top &&
          sy < square->top + square->side) {
        px[0] = 0;
        px[1] = 0;
        px[2] = 255;
      }
    }
  }
  e.y.assign(static_cast<size_t>(w) * h, 0);
  e.u.assign(static_cast<size_t>(w / 2) * (h / 2), 0);
  e.v = e.u;
  Rgb24ToI420(rows.data(), e.y.data(), e.u.data(), e.v.data(), w, h, w, w / 2, 3 * w, true);
  e.sy.assign(static_cast<size_t>(out.width) * out.height, 0);
  e.su.assign(static_cast<size_t>(out.width / 2) * (out.height / 2), 0);
  e.sv = e.su;
  ScalerContext scaler;
  ScaleI420(&scaler, w, h, w, w / 2, e.y.data(), e.u.data(), e.v.data(), out.width, out.height, out.width,
            out.width / 2, e.sy.data(), e.su.data(), e.sv.data());
  return e;
}

bool Same(const std::uint8_t* got, const std::vector<std::uint8_t>& want) {
  return std::memcmp(got, want.data(), want.size()) == 0;
}

void ExpectPlanes(const CCapture& c, const Expected& e) {
  ASSERT_EQ(c.grabSize().width, e.width);
  ASSERT_EQ(c.grabSize().height, e.height);
  EXPECT_TRUE(Same(c.fullY(), e.y));
  EXPECT_TRUE(Same(c.fullU(), e.u));
  EXPECT_TRUE(Same(c.fullV(), e.v));
  EXPECT_TRUE(Same(c.scaledY(), e.sy));
  EXPECT_TRUE(Same(c.scaledU(), e.su));
  EXPECT_TRUE(Same(c.scaledV(), e.sv));
}

void SetArea(CCapture* c, CaptureRect r) { SetCaptureArea(c, &r); }

std::vector<QString>* logLines;
void KeepLog(QtMsgType, const QMessageLogContext&, const QString& message) {
  if (logLines) logLines->push_back(message);
}

class CaptureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(plat_test::PaintPattern()); }
  void SetUp() override {
    ASSERT_TRUE(plat_test::SetSquareCursor(8, 8, 0, 0, false));
    ASSERT_TRUE(plat_test::WarpPointer(kScreenW - 1, kScreenH - 1));
  }
};

TEST(CaptureAreaTest, RoundsDownToMultiplesOfFourAndLogsTheValuesGiven) {
  auto c = std::make_unique<CCapture>();
  std::vector<QString> lines;
  logLines = &lines;
  qInstallMessageHandler(KeepLog);
  SetArea(c.get(), {0, 0, 1366, 768});
  qInstallMessageHandler(nullptr);
  logLines = nullptr;
  CaptureRect a = c->area();
  EXPECT_EQ(a.left, 0);
  EXPECT_EQ(a.top, 0);
  EXPECT_EQ(a.right, 1364);
  EXPECT_EQ(a.bottom, 768);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].startsWith("SetCaptureArea ")) << lines[0].toStdString();
  EXPECT_TRUE(lines[0].endsWith(" 1366   768")) << lines[0].toStdString();

  SetArea(c.get(), {0, 0, 1920, 1080});
  a = c->area();
  EXPECT_EQ(a.right, 1920);
  EXPECT_EQ(a.bottom, 1080);
  // Less than 4 wide or high: empty; a negative extent stays negative.
  SetArea(c.get(), {10, 20, 13, 100});
  a = c->area();
  EXPECT_EQ(a.right, 10);
  EXPECT_EQ(a.bottom, 100);
  SetArea(c.get(), {100, 100, 95, 200});
  a = c->area();
  EXPECT_EQ(a.right, 92);
}

TEST(CaptureAreaTest, AreasBeyondThePlanesAreCutAndExtremesStayDefined) {
  auto c = std::make_unique<CCapture>();
  SetArea(c.get(), {0, 0, 4096, 4096});
  CaptureRect a = c->area();
  EXPECT_EQ(a.right, 4096);
  EXPECT_EQ(a.bottom, 2048);
  EXPECT_LE(static_cast<std::int64_t>(a.right - a.left) * (a.bottom - a.top), CCapture::kMaxPixels);
  SetArea(c.get(), {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX});
  a = c->area();
  EXPECT_LE(static_cast<std::int64_t>(a.right) - a.left, CCapture::kMaxPixels);
  EXPECT_LE((static_cast<std::int64_t>(a.right) - a.left) * (static_cast<std::int64_t>(a.bottom) - a.top),
            CCapture::kMaxPixels);
  SetArea(c.get(), {INT32_MAX - 2, 0, INT32_MAX, 8});
  a = c->area();
  EXPECT_LE(a.right, a.left);
}

TEST_F(CaptureTest, PlanesMatchTheConversionAndTheScalerOfThePicture) {
  auto c = std::make_unique<CCapture>();
  struct Case {
    CaptureRect area;     // as set
    CaptureRect grabbed;  // what is grabbed and converted
    CCapture::Size out;
  };
  const Case cases[] = {
      {{0, 0, 1920, 1080}, {0, 0, 1920, 1080}, {1280, 720}},
      {{100, 52, 740, 532}, {100, 52, 740, 532}, {640, 480}},       // equal sizes: a copy
      {{0, 0, 1366, 768}, {0, 0, 1364, 768}, {352, 288}},           // rounded area
      {{1600, 800, 2240, 1280}, {1600, 800, 2240, 1280}, {320, 240}},  // past the right and bottom edges
      {{-100, -50, 540, 430}, {0, 0, 540, 428}, {320, 240}},       // before the left and top edges
      {{8, 8, 200, 100}, {8, 8, 200, 100}, {1280, 720}},          // upscale
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.area.left << "," << k.area.top << " " << k.out.width << "x" << k.out.height);
    SetArea(c.get(), k.area);
    c->setOutputSize(k.out.width, k.out.height);
    c->CaptureFrame();
    EXPECT_EQ(c->frameSize().width, k.out.width);
    EXPECT_EQ(c->frameSize().height, k.out.height);
    EXPECT_EQ(c->scaledStrideY(), k.out.width);
    EXPECT_EQ(c->scaledStrideUV(), k.out.width / 2);
    ExpectPlanes(*c, Expect(k.grabbed, k.out));
  }
}

TEST_F(CaptureTest, PointerIsDrawnWithItsHotSpotOnThePointerAndNotWhenHidden) {
  auto c = std::make_unique<CCapture>();
  const CaptureRect area{256, 128, 576, 368};
  SetArea(c.get(), area);
  c->setOutputSize(320, 240);
  ASSERT_TRUE(plat_test::SetSquareCursor(8, 8, 5, 3, true));
  ASSERT_TRUE(plat_test::WarpPointer(300, 200));
  c->CaptureFrame();
  const RedSquare square{300 - 5, 200 - 3, 8};
  ExpectPlanes(*c, Expect(area, {320, 240}, &square));
  ASSERT_TRUE(plat_test::SetSquareCursor(8, 8, 5, 3, false));
  c->CaptureFrame();
  ExpectPlanes(*c, Expect(area, {320, 240}));
}

// A still screen is not grabbed again; whatever changes the picture is:
// drawing inside the area, the pointer moving over it, another area.
TEST_F(CaptureTest, StillScreenIsKeptAndEveryChangeIsGrabbed) {
  auto c = std::make_unique<CCapture>();
  const CaptureRect area{256, 128, 576, 368};
  SetArea(c.get(), area);
  c->setOutputSize(320, 240);
  c->CaptureFrame();
  ExpectPlanes(*c, Expect(area, {320, 240}));
  const std::int64_t first = c->grabCount();
  EXPECT_EQ(first, 1);
  for (int i = 0; i < 3; ++i) c->CaptureFrame();
  EXPECT_EQ(c->grabCount(), first);

  // Drawn elsewhere on the screen: still nothing to grab, and a wait for a
  // change runs to its end.
  ASSERT_TRUE(plat_test::FillRect(1200, 700, 50, 50, 0x00ff00));
  std::int64_t t0 = plat::monotonicUs();
  EXPECT_FALSE(c->WaitForChange(t0 + 60000));
  EXPECT_GE(plat::monotonicUs() - t0, 55000);
  c->CaptureFrame();
  EXPECT_EQ(c->grabCount(), first);

  // Drawing inside ends a wait as it happens.
  std::thread painter([] {
    plat::sleepMs(30);
    plat_test::FillRect(400, 300, 4, 4, 0x0000ff);
  });
  t0 = plat::monotonicUs();
  EXPECT_TRUE(c->WaitForChange(t0 + 2000000));
  EXPECT_LT(plat::monotonicUs() - t0, 1000000);
  painter.join();
  ASSERT_TRUE(plat_test::PaintPattern());
  c->CaptureFrame();
  ExpectPlanes(*c, Expect(area, {320, 240}));
  const std::int64_t repainted = c->grabCount();

  // Drawn inside: only its band of rows is grabbed, once, and the planes
  // are what a whole grab would give.
  ASSERT_TRUE(plat_test::FillRect(300, 201, 8, 8, 0xff0000));
  c->CaptureFrame();
  const RedSquare drawn{300, 201, 8};
  ExpectPlanes(*c, Expect(area, {320, 240}, &drawn));
  EXPECT_EQ(c->grabCount(), repainted + 1);
  EXPECT_EQ(c->bandGrabCount(), 1);
  c->CaptureFrame();
  EXPECT_EQ(c->grabCount(), repainted + 1);

  // A new output size is scaled from the kept picture without a grab.
  c->setOutputSize(160, 120);
  c->CaptureFrame();
  ExpectPlanes(*c, Expect(area, {160, 120}, &drawn));
  EXPECT_EQ(c->grabCount(), repainted + 1);
  ASSERT_TRUE(plat_test::PaintPattern());
  c->CaptureFrame();
  ExpectPlanes(*c, Expect(area, {160, 120}));
  EXPECT_EQ(c->bandGrabCount(), 1);

  // The pointer appearing and moving are grabbed; the server may report
  // its new image once more, then the picture settles again.
  std::int64_t before = c->grabCount();
  ASSERT_TRUE(plat_test::SetSquareCursor(8, 8, 0, 0, true));
  c->CaptureFrame();
  EXPECT_GT(c->grabCount(), before);
  before = c->grabCount();
  ASSERT_TRUE(plat_test::WarpPointer(400, 250));
  c->CaptureFrame();
  const RedSquare pointer{400, 250, 8};
  ExpectPlanes(*c, Expect(area, {160, 120}, &pointer));
  EXPECT_EQ(c->grabCount(), before + 1);
  c->CaptureFrame();
  const std::int64_t settled = c->grabCount();
  for (int i = 0; i < 3; ++i) c->CaptureFrame();
  EXPECT_EQ(c->grabCount(), settled);
  // A pointer that moves ends a wait for drawing too.
  std::thread mover([] {
    plat::sleepMs(30);
    plat_test::WarpPointer(420, 270);
  });
  const std::int64_t waitFrom = plat::monotonicUs();
  EXPECT_TRUE(c->WaitForChange(waitFrom + 2000000));
  EXPECT_LT(plat::monotonicUs() - waitFrom, 1000000);
  mover.join();
  c->CaptureFrame();
  const RedSquare moved{420, 270, 8};
  ExpectPlanes(*c, Expect(area, {160, 120}, &moved));
  EXPECT_EQ(c->grabCount(), settled + 1);

  // Another area is grabbed.
  const CaptureRect other{0, 0, 320, 240};
  SetArea(c.get(), other);
  c->CaptureFrame();
  ExpectPlanes(*c, Expect(other, {160, 120}));
  EXPECT_EQ(c->grabCount(), settled + 2);
}

TEST_F(CaptureTest, NothingToGrabOrNoOutputSizeLeavesTheScaledPlanes) {
  auto c = std::make_unique<CCapture>();
  SetArea(c.get(), {0, 0, 640, 360});
  c->setOutputSize(320, 180);
  c->CaptureFrame();
  std::vector<std::uint8_t> before(c->scaledY(), c->scaledY() + 320 * 180);
  before.insert(before.end(), c->scaledU(), c->scaledU() + 160 * 90);

  auto unchanged = [&] {
    std::vector<std::uint8_t> now(c->scaledY(), c->scaledY() + 320 * 180);
    now.insert(now.end(), c->scaledU(), c->scaledU() + 160 * 90);
    return now == before && c->frameSize().width == 320 && c->frameSize().height == 180;
  };
  // A different picture would come from this area if it were grabbed.
  SetArea(c.get(), {3, 5, 6, 200});  // 3 wide: stored empty
  c->CaptureFrame();
  EXPECT_TRUE(unchanged());
  SetArea(c.get(), {-100, 0, 2, 200});  // nothing left after clamping
  c->CaptureFrame();
  EXPECT_TRUE(unchanged());
  SetArea(c.get(), {700, 300, 1340, 660});
  for (CCapture::Size bad : {CCapture::Size{0, 0}, CCapture::Size{5000, 100}, CCapture::Size{4096, 4096},
                             CCapture::Size{-2, 100}}) {
    c->setOutputSize(bad.width, bad.height);
    c->CaptureFrame();
    EXPECT_TRUE(unchanged()) << bad.width << "x" << bad.height;
  }
}

TEST_F(CaptureTest, GetImageAndSharedMemoryGiveTheSamePlanes) {
  auto shm = std::make_unique<CCapture>(plat::GrabMethod::SharedMemory);
  auto core = std::make_unique<CCapture>(plat::GrabMethod::GetImage);
  ASSERT_TRUE(plat_test::SetSquareCursor(12, 12, 6, 6, true));
  ASSERT_TRUE(plat_test::WarpPointer(1000, 500));
  for (CCapture* c : {shm.get(), core.get()}) {
    SetArea(c, {0, 0, 1920, 1080});
    c->setOutputSize(1280, 720);
    c->CaptureFrame();
  }
  EXPECT_EQ(std::memcmp(shm->fullY(), core->fullY(), 1920 * 1080), 0);
  EXPECT_EQ(std::memcmp(shm->fullU(), core->fullU(), 960 * 540), 0);
  EXPECT_EQ(std::memcmp(shm->fullV(), core->fullV(), 960 * 540), 0);
  EXPECT_EQ(std::memcmp(shm->scaledY(), core->scaledY(), 1280 * 720), 0);
  EXPECT_EQ(std::memcmp(shm->scaledU(), core->scaledU(), 640 * 360), 0);
  EXPECT_EQ(std::memcmp(shm->scaledV(), core->scaledV(), 640 * 360), 0);
}

void DropLog(QtMsgType, const QMessageLogContext&, const QString&) {}

TEST_F(CaptureTest, DirectAndPackedRoutesGiveTheSamePlanes) {
  auto direct = std::make_unique<CCapture>(plat::GrabMethod::Auto, CCapture::Route::Direct);
  auto packed = std::make_unique<CCapture>(plat::GrabMethod::Auto, CCapture::Route::Packed);
  ASSERT_TRUE(plat_test::SetSquareCursor(12, 12, 2, 2, true));
  ASSERT_TRUE(plat_test::WarpPointer(40, 30));
  for (CaptureRect area : {CaptureRect{0, 0, 1920, 1080}, CaptureRect{36, 20, 1000, 612}}) {
    const int w = area.right - area.left, h = area.bottom - area.top;
    for (CCapture* c : {direct.get(), packed.get()}) {
      SetArea(c, area);
      c->setOutputSize(1280, 720);
      c->CaptureFrame();
    }
    EXPECT_EQ(std::memcmp(direct->fullY(), packed->fullY(), static_cast<size_t>(w) * h), 0);
    EXPECT_EQ(std::memcmp(direct->fullU(), packed->fullU(), static_cast<size_t>(w / 2) * (h / 2)), 0);
    EXPECT_EQ(std::memcmp(direct->fullV(), packed->fullV(), static_cast<size_t>(w / 2) * (h / 2)), 0);
    EXPECT_EQ(std::memcmp(direct->scaledY(), packed->scaledY(), 1280 * 720), 0);
    EXPECT_EQ(std::memcmp(direct->scaledU(), packed->scaledU(), 640 * 360), 0);
    EXPECT_EQ(std::memcmp(direct->scaledV(), packed->scaledV(), 640 * 360), 0);
  }
}

TEST_F(CaptureTest, OutputSizeChangesBetweenFramesNeverTear) {
  qInstallMessageHandler(DropLog);  // one area line per change
  auto c = std::make_unique<CCapture>();
  SetArea(c.get(), {0, 0, 640, 360});
  c->setOutputSize(320, 180);
  std::atomic<bool> stop{false};
  std::thread session([&] {
    for (int i = 0; !stop; ++i) {
      if (i % 2) {
        c->setOutputSize(320, 180);
      } else {
        c->setOutputSize(176, 144);
      }
      CaptureRect area{0, 0, 640 + 4 * (i % 3), 360};
      SetCaptureArea(c.get(), &area);
    }
  });
  for (int frame = 0; frame < 30; ++frame) {
    c->CaptureFrame();
    CCapture::Size s = c->frameSize();
    EXPECT_TRUE((s.width == 320 && s.height == 180) || (s.width == 176 && s.height == 144))
        << s.width << "x" << s.height;
  }
  stop = true;
  session.join();
  qInstallMessageHandler(nullptr);
}

}  // namespace
