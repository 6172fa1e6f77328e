// What the codec thread needs of the session that runs it. The session
// implements this, so the media code never depends on the session's code.
#pragma once
#include <cstdint>

#include "media/encoding_params.h"
#include "platform/net.h"

class CCapture;

class ICodecSession {
 public:
  virtual ~ICodecSession() = default;
  // The thread runs while this holds.
  virtual bool codecRunning() = 0;
  // Frames are taken only while the device has the session encoding.
  virtual bool isEncoding() = 0;
  // A copy of the parameters in force, taken under the session's lock.
  virtual EncodingParams copyEncodingParams() = 0;
  // Set when the device sent a whole new parameter record.
  virtual bool paramsChanged() = 0;
  virtual void clearParamsChanged() = 0;
  // Reads and clears the device's request for an intra picture.
  virtual std::int32_t takeVfuRequest() = 0;
  virtual CCapture& capture() = 0;
  // Sends one whole framed message under the send lock; false when the
  // socket is gone or the send failed.
  virtual bool sendMessage(plat::Socket socket, const unsigned char* message, long length) = 0;
};
