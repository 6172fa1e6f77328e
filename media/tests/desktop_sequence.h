// Synthetic desktop-like I420 pictures: windows of text-like strokes on a
// plain background, a taskbar, and depending on the scene a window that
// moves and a region whose content changes every frame.
#ifndef TANDEO_MEDIA_TESTS_DESKTOP_SEQUENCE_H
#define TANDEO_MEDIA_TESTS_DESKTOP_SEQUENCE_H

#include <cstdint>
#include <vector>

#include "media/video_encoder.h"

class DesktopSequence {
 public:
  enum class Scene {
    kStatic,        // nothing moves
    kMovingWindow,  // a text window slides across the desktop
    kBusy,          // the moving window plus a region of fresh detail every frame
  };

  DesktopSequence(int width, int height, Scene scene);

  // Renders picture `index` of the sequence into the planes.
  void Render(int index);

  FramePicture picture() const;
  int width() const { return width_; }
  int height() const { return height_; }
  const std::vector<uint8_t>& y() const { return y_; }
  const std::vector<uint8_t>& u() const { return u_; }
  const std::vector<uint8_t>& v() const { return v_; }

 private:
  void DrawWindow(std::vector<uint8_t>& y, std::vector<uint8_t>& u, std::vector<uint8_t>& v,
                  int x0, int y0, int w, int h, uint32_t seed, uint8_t titleU, uint8_t titleV);

  int width_, height_;
  Scene scene_;
  std::vector<uint8_t> bgY_, bgU_, bgV_;  // everything that does not move
  std::vector<uint8_t> y_, u_, v_;
};

// Peak signal-to-noise ratio of two planes of the same size, in dB.
double PlanePsnr(const uint8_t* a, int strideA, const uint8_t* b, int strideB, int width, int height);

#endif  // TANDEO_MEDIA_TESTS_DESKTOP_SEQUENCE_H
