// Test streams for the device: H.264 pictures from libx264 carrying the test
// pattern's stamp, and an RTP packetiser written here from the packet rules,
// apart from the sender's.
#pragma once
#include <cstdint>
#include <vector>

struct x264_t;

namespace devtest {

using Bytes = std::vector<std::uint8_t>;

// One RTP packet: the fixed header the sender writes, then the payload.
Bytes rtpPacket(std::uint16_t seq, bool marker, const Bytes& payload);

// The packets of one picture. `fragment`: units longer than 1299 bytes
// (header included) go out as FU-A pieces of at most 1298 body bytes, as the
// high profile does; otherwise each unit is one packet. `seq` is the last
// number used and is advanced.
std::vector<Bytes> packetise(const std::vector<Bytes>& nals, std::uint16_t* seq, bool fragment = true);

// The access unit the device should rebuild: 4-byte start codes.
Bytes annexB(const std::vector<Bytes>& nals);

// Draws the stamp into a luma plane: cells of width/64 pixels, 235 for 1
// and 16 for 0, over the top cell-high rows.
void drawStamp(std::uint8_t* luma, int stride, int width, int height, std::uint32_t drawMs,
               std::uint16_t counter);

// Low-latency libx264 pictures of a moving gradient with a stamp, in the
// shape the sender sends (no B-frames, headers before each key frame).
class TestEncoder {
 public:
  TestEncoder(int width, int height, int fps, bool baseline = false);
  ~TestEncoder();
  TestEncoder(const TestEncoder&) = delete;
  TestEncoder& operator=(const TestEncoder&) = delete;

  // NAL units of the next picture, without start codes.
  std::vector<Bytes> encode(std::uint16_t counter, std::uint32_t stampMs, bool forceIdr = false);
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  int width_, height_;
  x264_t* encoder_ = nullptr;
  std::vector<std::uint8_t> planes_;
  long pts_ = 0;
};

}  // namespace devtest
