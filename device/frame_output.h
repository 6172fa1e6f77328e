// Where the device's side of the protocol writes its frames.
#pragma once
#include <cstdint>

namespace device {

class FrameOutput {
 public:
  virtual ~FrameOutput() = default;
  // Sends one whole frame; false when the connection cannot take it.
  virtual bool sendFrame(std::uint32_t type, const void* payload, std::uint32_t length) = 0;
  // Nothing more will be sent: the sender reads the end of the stream once
  // it has read what was sent.
  virtual void finishOutput() = 0;
};

}  // namespace device
