#include "device/display_window.h"

#include <QApplication>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

#include "device/display.h"
#include "platform/screen_metrics.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace device {

namespace {
// Fast enough for any picture rate the device asks for.
constexpr int kPollMs = 10;
}  // namespace

DisplayWindow::DisplayWindow(PictureHandoff& handoff, QWidget* parent)
    : QWidget(parent), handoff_(handoff), picture_(largestPicturePixels()) {
  setWindowTitle("tandeo-device");
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(960, 540);
  connect(&timer_, SIGNAL(timeout()), this, SLOT(slot_poll()));
  timer_.start(kPollMs);
}

DisplayWindow::~DisplayWindow() { sws_freeContext(sws_); }

void DisplayWindow::slot_poll() {
  if (!handoff_.take(&picture_, &serial_)) return;
  // The title names the picture size; it is set again only when that changes.
  if (picture_.width != titleWidth_ || picture_.height != titleHeight_) {
    titleWidth_ = picture_.width;
    titleHeight_ = picture_.height;
    setWindowTitle(QString("tandeo-device %1x%2").arg(titleWidth_).arg(titleHeight_));
  }
  convert();
  update();
}

// Converts and scales in one pass to the largest size that fits the window
// with the picture's shape.
void DisplayWindow::convert() {
  const int pw = picture_.width, ph = picture_.height;
  if (pw <= 0 || ph <= 0 || width() <= 0 || height() <= 0) return;
  int w = width(), h = static_cast<int>(static_cast<long long>(width()) * ph / pw);
  if (h > height()) {
    h = height();
    w = static_cast<int>(static_cast<long long>(height()) * pw / ph);
  }
  w = std::max(w, 2);
  h = std::max(h, 2);
  if (image_.width() != w || image_.height() != h) image_ = QImage(w, h, QImage::Format_RGB32);
  sws_ = sws_getCachedContext(sws_, pw, ph, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGRA, SWS_BILINEAR,
                              nullptr, nullptr, nullptr);
  if (!sws_) return;
  const std::uint8_t* src[3] = {picture_.y.get(), picture_.u.get(), picture_.v.get()};
  const int srcStride[3] = {pw, (pw + 1) / 2, (pw + 1) / 2};
  std::uint8_t* dst[1] = {image_.bits()};
  const int dstStride[1] = {static_cast<int>(image_.bytesPerLine())};
  sws_scale(sws_, src, srcStride, 0, ph, dst, dstStride);
}

void DisplayWindow::resizeEvent(QResizeEvent*) {
  if (serial_) convert();
}

void DisplayWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  if (image_.isNull()) return;
  // The image fits the window in one direction; it is centred in the other.
  p.drawImage((width() - image_.width()) / 2, (height() - image_.height()) / 2, image_);
}

bool displayAvailable(std::string* why) {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) {
    *why = "--display needs an X display, and DISPLAY is not set";
    return false;
  }
  // Qt would abort without a display; ask first.
  plat::ScreenMetrics metrics;
  if (!plat::QueryScreenMetrics(&metrics)) {
    *why = std::string("--display cannot reach the X display ") + name;
    return false;
  }
  return true;
}

int runDisplay(PictureHandoff& handoff, const std::function<bool()>& stopRequested) {
  static char name[] = "tandeo-device";
  static char* argv[] = {name, nullptr};
  static int argc = 1;
  QApplication app(argc, argv);
  DisplayWindow window(handoff);
  window.show();
  QTimer stop;
  QObject::connect(&stop, &QTimer::timeout, [&] {
    if (stopRequested()) app.quit();
  });
  stop.start(50);
  return app.exec();
}

}  // namespace device
