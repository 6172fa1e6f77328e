// Without a display the capture keeps its planes and says so once.
#include <gtest/gtest.h>

#include <QString>
#include <QtGlobal>
#include <memory>
#include <vector>

#include "media/capture.h"

namespace {

std::vector<QString> lines;
void KeepLog(QtMsgType, const QMessageLogContext&, const QString& message) { lines.push_back(message); }

int NoDisplayLines() {
  int n = 0;
  for (const QString& l : lines) n += l.startsWith("CCapture::CaptureFrame ") ? 1 : 0;
  return n;
}

TEST(CaptureNoDisplayTest, PlanesStayAndOneLineIsLoggedPerProcess) {
  ASSERT_TRUE(qgetenv("DISPLAY").isEmpty()) << "run with DISPLAY empty";
  qInstallMessageHandler(KeepLog);
  auto c = std::make_unique<CCapture>();
  CaptureRect area{0, 0, 640, 480};
  SetCaptureArea(c.get(), &area);
  c->setOutputSize(320, 240);
  for (int i = 0; i < 3; ++i) c->CaptureFrame();
  // A second session object in the same process does not repeat it.
  auto d = std::make_unique<CCapture>();
  SetCaptureArea(d.get(), &area);
  d->setOutputSize(320, 240);
  d->CaptureFrame();
  qInstallMessageHandler(nullptr);
  EXPECT_EQ(NoDisplayLines(), 1);
  EXPECT_EQ(c->frameSize().width, 0);
  // Still the black picture the planes start with.
  for (int i = 0; i < 320 * 240; i += 997) ASSERT_EQ(c->scaledY()[i], 16);
  for (int i = 0; i < 160 * 120; i += 997) ASSERT_EQ(c->scaledU()[i], 128);
}

}  // namespace
