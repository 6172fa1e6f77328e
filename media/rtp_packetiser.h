// Cuts H.264 NAL units (Annex B, with start code) into RTP packets and hands
// each to a sink. Every packet is built in one buffer allocated up front.
#ifndef TANDEO_MEDIA_RTP_PACKETISER_H
#define TANDEO_MEDIA_RTP_PACKETISER_H

#include <cstdint>
#include <memory>

#include "media/video_encoder.h"

class RtpPacketiser {
 public:
  // The buffer holds the largest packet a media message can carry.
  static constexpr int32_t kBufferSize = 65536;

  explicit RtpPacketiser(OutBitStream* sink) : sink_(sink) {}

  // Allocates the packet buffer once; false when memory is short.
  bool Allocate();

  // The unit's length without its start code: 3 bytes are dropped when the
  // third byte is 1, else 4. 0 when nothing is left.
  static int32_t PayloadSize(const uint8_t* unit, int32_t size);

  // Whether the unit gives at least one packet in each mode.
  static bool SendsSingle(const uint8_t* unit, int32_t size) { return PayloadSize(unit, size) >= 1; }
  static bool SendsFragmented(const uint8_t* unit, int32_t size) { return PayloadSize(unit, size) >= 2; }

  // One packet holding the whole unit (header byte and body). A unit too
  // large for one media message goes out as FU-A pieces instead.
  void SendSingle(const uint8_t* unit, int32_t size, bool marker);

  // A unit that fits one piece goes out whole; a longer one as FU-A pieces
  // of at most 1298 body bytes. A unit of only its header byte sends nothing.
  // The marker, when asked for, goes on the unit's last packet.
  void SendFragmented(const uint8_t* unit, int32_t size, bool marker);

 private:
  void SendWhole(const uint8_t* nal, int32_t n, bool marker);
  void SendPieces(const uint8_t* nal, int32_t n, bool marker);
  void PutHeader(bool marker);

  OutBitStream* sink_;
  std::unique_ptr<uint8_t[]> buffer_;
};

#endif  // TANDEO_MEDIA_RTP_PACKETISER_H
