// The device's log: one line per event, each stamped with the seconds since
// the device was created.
#pragma once
#include <cstdint>
#include <string>

#include "device/options.h"

namespace device {

class DeviceLog {
 public:
  explicit DeviceLog(LogSink sink);
  void operator()(const std::string& line) const;

 private:
  LogSink sink_;
  std::int64_t startUs_;
};

// Printable form of bytes from the wire: hex, or quoted text with escapes.
std::string hexBytes(const std::uint8_t* data, std::size_t length);
std::string quotedText(const std::uint8_t* data, std::size_t length);

}  // namespace device
