#include "device/log.h"

#include <cstdio>
#include <mutex>

#include "platform/clock.h"

namespace device {

DeviceLog::DeviceLog(LogSink sink) : sink_(std::move(sink)), startUs_(plat::monotonicUs()) {}

void DeviceLog::operator()(const std::string& line) const {
  char stamp[32];
  std::int64_t us = plat::monotonicUs() - startUs_;
  std::snprintf(stamp, sizeof stamp, "[%4lld.%03lld] ", static_cast<long long>(us / 1000000),
                static_cast<long long>(us / 1000 % 1000));
  if (sink_) {
    sink_(stamp + line);
    return;
  }
  static std::mutex out;
  std::lock_guard<std::mutex> g(out);
  std::fprintf(stdout, "%s%s\n", stamp, line.c_str());
  std::fflush(stdout);
}

std::string hexBytes(const std::uint8_t* data, std::size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(length * 2);
  for (std::size_t i = 0; i < length; ++i) {
    s += digits[data[i] >> 4];
    s += digits[data[i] & 15];
  }
  return s;
}

std::string quotedText(const std::uint8_t* data, std::size_t length) {
  std::string s = "\"";
  for (std::size_t i = 0; i < length; ++i) {
    std::uint8_t c = data[i];
    if (c == '"' || c == '\\') {
      s += '\\';
      s += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      s += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02x", c);
      s += esc;
    }
  }
  return s + "\"";
}

}  // namespace device
