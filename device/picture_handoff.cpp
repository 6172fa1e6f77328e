#include "device/picture_handoff.h"

#include <cstring>

#include "device/resolution.h"

namespace device {

namespace {
void copyPlane(std::uint8_t* to, const std::uint8_t* from, int stride, int width, int height) {
  for (int row = 0; row < height; ++row)
    std::memcpy(to + static_cast<std::size_t>(row) * width, from + static_cast<std::ptrdiff_t>(row) * stride,
                static_cast<std::size_t>(width));
}
}  // namespace

std::size_t largestPicturePixels() {
  std::size_t most = 0;
  for (int code = 0; code < kResolutionCount; ++code) {
    int w = 0, h = 0;
    resolutionSize(code, &w, &h);
    most = std::max(most, static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  }
  return most;
}

HeldPicture::HeldPicture(std::size_t capacityPixels)
    : y(new std::uint8_t[capacityPixels]),
      // Half the pixels, not a quarter: odd sizes round the chroma planes up.
      u(new std::uint8_t[capacityPixels / 2 + 1]),
      v(new std::uint8_t[capacityPixels / 2 + 1]),
      capacity(capacityPixels) {}

bool HeldPicture::copyFrom(int w, int h, const std::uint8_t* py, int yStride, const std::uint8_t* pu,
                           const std::uint8_t* pv, int uvStride) {
  if (w <= 0 || h <= 0 || static_cast<std::size_t>(w) * static_cast<std::size_t>(h) > capacity) return false;
  width = w;
  height = h;
  copyPlane(y.get(), py, yStride, w, h);
  copyPlane(u.get(), pu, uvStride, (w + 1) / 2, (h + 1) / 2);
  copyPlane(v.get(), pv, uvStride, (w + 1) / 2, (h + 1) / 2);
  return true;
}

PictureHandoff::PictureHandoff() : latest_(largestPicturePixels()) {}

void PictureHandoff::put(const DecodedFrame& f) {
  std::lock_guard<std::mutex> g(lock_);
  if (latest_.copyFrom(f.width, f.height, f.y, f.yStride, f.u, f.v, f.uvStride)) ++serial_;
}

bool PictureHandoff::take(HeldPicture* out, std::uint64_t* serial) {
  std::lock_guard<std::mutex> g(lock_);
  if (serial_ == *serial || serial_ == 0) return false;
  if (!out->copyFrom(latest_.width, latest_.height, latest_.y.get(), latest_.width, latest_.u.get(),
                     latest_.v.get(), (latest_.width + 1) / 2))
    return false;
  *serial = serial_;
  return true;
}

}  // namespace device
