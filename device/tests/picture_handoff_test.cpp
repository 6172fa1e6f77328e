// The picture handoff between the device thread and a viewer: whole
// pictures only, never a mix of two, and nothing larger than it can hold.
#include "device/picture_handoff.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// A picture whose every sample carries one value, so a torn copy shows.
struct Uniform {
  int w, h;
  std::vector<std::uint8_t> y, c;
  Uniform(int width, int height, std::uint8_t value)
      : w(width), h(height), y(static_cast<std::size_t>(width + 8) * height, value),
        c(static_cast<std::size_t>(width / 2 + 8) * (height / 2), value) {}
  device::DecodedFrame frame() const {
    return device::DecodedFrame{w, h, y.data(), c.data(), c.data(), w + 8, w / 2 + 8, false, 0, 0, -1, 0};
  }
};

bool uniform(const device::HeldPicture& p, std::uint8_t* value) {
  *value = p.y[0];
  const std::size_t luma = static_cast<std::size_t>(p.width) * p.height;
  const std::size_t chroma = static_cast<std::size_t>(p.width / 2) * (p.height / 2);
  for (std::size_t i = 0; i < luma; ++i)
    if (p.y[i] != *value) return false;
  for (std::size_t i = 0; i < chroma; ++i)
    if (p.u[i] != *value || p.v[i] != *value) return false;
  return true;
}

TEST(PictureHandoff, ViewerGetsWholePicturesWhileTheDeviceKeepsPutting) {
  device::PictureHandoff handoff;
  device::HeldPicture held(device::largestPicturePixels());
  std::uint64_t serial = 0;
  EXPECT_FALSE(handoff.take(&held, &serial));  // nothing yet

  const Uniform small(320, 180, 1), large(1280, 720, 2);
  std::atomic<bool> done{false};
  std::thread device([&] {
    for (int i = 0; i < 400; ++i) handoff.put((i % 2 ? large : small).frame());
    done = true;
  });
  int taken = 0;
  for (;;) {
    const bool finished = done;
    if (!handoff.take(&held, &serial)) {
      if (finished) break;
      continue;
    }
    ++taken;
    std::uint8_t v = 0;
    ASSERT_TRUE(uniform(held, &v));
    ASSERT_EQ(held.width, v == 1 ? 320 : 1280);
  }
  device.join();
  EXPECT_GT(taken, 0);
  // The last picture once, then nothing new.
  std::uint8_t v = 0;
  ASSERT_TRUE(uniform(held, &v));
  EXPECT_EQ(v, 2);
  EXPECT_FALSE(handoff.take(&held, &serial));

  // A picture larger than any the device asks for is dropped.
  const Uniform huge(4096, 2304, 3);
  handoff.put(huge.frame());
  EXPECT_FALSE(handoff.take(&held, &serial));
}

}  // namespace
