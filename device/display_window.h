// tandeo-device --display: a window that shows the latest decoded picture,
// scaled to fit and keeping its aspect ratio. It takes pictures from a
// PictureHandoff on a timer, so the device thread never waits for it.
#pragma once
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdint>

#include "device/picture_handoff.h"

struct SwsContext;

namespace device {

class DisplayWindow : public QWidget {
  Q_OBJECT
 public:
  explicit DisplayWindow(PictureHandoff& handoff, QWidget* parent = nullptr);
  ~DisplayWindow() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private slots:
  void slot_poll();

 private:
  void convert();

  PictureHandoff& handoff_;
  HeldPicture picture_;  // the GUI's own copy
  std::uint64_t serial_ = 0;
  int titleWidth_ = 0, titleHeight_ = 0;  // the size the title names
  QImage image_;         // the picture converted at the size it is shown
  SwsContext* sws_ = nullptr;
  QTimer timer_;
};

}  // namespace device
