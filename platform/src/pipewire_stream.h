// The PipeWire half of a screen cast: a video stream that receives the
// pictures of one node on its own thread and keeps the newest.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {
namespace pw {

// A picture read in place in the stream's buffer: 32-bit pixels, top-down,
// bytes blue, green, red, unused, or red and blue swapped where
// swapRedBlue says so.
struct View {
  const std::uint8_t* pixels = nullptr;
  std::int64_t stride = 0;
  std::int32_t width = 0, height = 0;
  bool swapRedBlue = false;
};

class Stream {
 public:
  Stream();
  ~Stream();  // disconnects and joins the stream's thread
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Connects over fd (which the stream takes, even on failure) to node.
  // Offers 32-bit packed formats (BGRx, BGRA, RGBx, RGBA) in shared-memory
  // buffers. False, with *error, when the connection could not be made.
  bool Start(int fd, std::uint32_t node, std::string* error);

  // Holds the newest picture for reading: a newer one than the last
  // Acquire saw replaces it (the older goes back to the compositor), else
  // the same one is read again. False, holding nothing, before the first
  // picture. After true, *view stays readable until Release, which must
  // follow before the next Acquire. One reading thread.
  bool Acquire(View* view);
  void Release();

  // True once the stream failed or ended, with the reason.
  bool ended(std::string* why) const;
  std::uint64_t pictures() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pw
}  // namespace plat
