// The receiving end of the sender's RTP stream: checks each packet, follows
// the sequence numbers, undoes the packetisation (single NAL unit packets and
// FU-A fragments) and rebuilds every picture as one Annex B access unit
// (4-byte start codes), handed out when the marker ends it.
//
// Memory is fixed: one access-unit buffer, allocated with the receiver and
// reused. Any byte string is safe to feed; what cannot be followed is
// dropped and counted.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace device {

struct RtpCounters {
  std::uint64_t packets = 0;          // packets fed
  std::uint64_t bytes = 0;            // their bytes
  std::uint64_t malformed = 0;        // dropped: bad header or payload
  std::uint64_t sequenceGaps = 0;     // sequence number breaks
  std::uint64_t fragmentsDropped = 0; // FU-A runs broken by a gap, a new start or a marker
  std::uint64_t pictures = 0;         // access units handed out
  std::uint64_t picturesDropped = 0;  // access units too large, or cut off by a new run
  std::uint64_t idrPictures = 0;      // handed-out access units holding an IDR slice
};

// One picture, valid until the next call into the receiver. The buffer has
// kPadding zero bytes after `size`, as decoders that read ahead want.
struct AccessUnit {
  const std::uint8_t* data;
  std::size_t size;
  bool idr;
  std::uint32_t rtpTimestamp;
};

class RtpReceiver {
 public:
  static constexpr std::size_t kDefaultMaxAccessUnit = 8u << 20;
  static constexpr std::size_t kPadding = 64;

  explicit RtpReceiver(std::size_t maxAccessUnit = kDefaultMaxAccessUnit);

  // Feeds one packet; returns true when it completed an access unit, which
  // accessUnit() then describes.
  bool feed(const std::uint8_t* packet, std::size_t length);
  const AccessUnit& accessUnit() const { return unit_; }

  // A new stream: the next packet's sequence number is taken as it comes,
  // and a picture in progress is dropped silently.
  void reset();

  const RtpCounters& counters() const { return counters_; }
  // Why the last packet was counted malformed (a fixed text), or nullptr.
  const char* lastFault() const { return lastFault_; }

 private:
  bool malformed(const char* why);
  void checkSequence(std::uint16_t seq);
  void feedFragment(const std::uint8_t* payload, std::size_t length);
  bool append(const std::uint8_t* data, std::size_t length);
  void abandonFragment();
  bool endPicture(std::uint32_t timestamp);

  const std::size_t max_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t size_ = 0;
  std::size_t fragmentStart_ = 0;   // where the unit being reassembled begins
  unsigned fragmentType_ = 0;
  bool inFragment_ = false;
  bool orphan_ = false;             // skipping the rest of a run whose start is gone
  bool overflow_ = false;           // this picture outgrew the buffer and is dropped
  bool hasIdr_ = false;
  bool haveSequence_ = false;
  std::uint16_t nextSequence_ = 0;
  AccessUnit unit_{nullptr, 0, false, 0};
  RtpCounters counters_;
  const char* lastFault_ = nullptr;
};

}  // namespace device
