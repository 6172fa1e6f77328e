// Where the device hands the stream it receives. The control half only
// counts media messages; a sink that depacketises, decodes, records or shows
// them plugs in here. Every call comes on the device thread.
#pragma once
#include <cstddef>
#include <cstdint>

#include "device/encoding_request.h"

namespace device {

class MediaSink {
 public:
  virtual ~MediaSink() = default;
  // The device has sent parameters to a paired sender (a start
  // acknowledgement or a later update): a new run of the stream begins.
  virtual void streamStarted(const EncodingRequest& params) = 0;
  // One media message payload: an RTP packet.
  virtual void mediaPacket(const std::uint8_t* packet, std::size_t length) = 0;
  // The device acknowledged a stop, or the connection ended while streaming.
  virtual void streamStopped() = 0;
  // Once every pass of the connection (at least every 20 ms), for work that
  // runs on time rather than on packets.
  virtual void tick() {}
};

}  // namespace device
