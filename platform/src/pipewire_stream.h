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

// One picture: 32-bit pixels, bytes blue, green, red, unused, top-down.
struct Picture {
  std::vector<std::uint8_t> pixels;  // grows with the picture, never shrinks
  std::int32_t width = 0, height = 0;
  std::int64_t stride = 0;
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

  // When a picture newer than the last one taken has arrived, swaps it into
  // *picture (whose old memory the stream reuses) and returns true.
  bool TakeNewest(Picture* picture);

  // True once the stream failed or ended, with the reason.
  bool ended(std::string* why) const;
  std::uint64_t pictures() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pw
}  // namespace plat
