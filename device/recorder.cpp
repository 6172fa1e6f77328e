#include "device/recorder.h"

#include <cerrno>
#include <cstring>

namespace device {

bool Recorder::open(const std::string& path, std::string* error) {
  close();
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) {
    if (error) *error = "cannot open " + path + " for recording: " + std::strerror(errno);
    return false;
  }
  path_ = path;
  bytes_ = 0;
  return true;
}

bool Recorder::write(const std::uint8_t* data, std::size_t size, std::string* error) {
  if (!file_) return false;
  // Flushed per picture, so that the file holds whole pictures whenever the
  // device is stopped, even by a kill.
  if (std::fwrite(data, 1, size, file_) != size || std::fflush(file_) != 0) {
    if (error) *error = "writing " + path_ + " failed: " + std::strerror(errno) + "; recording stopped";
    close();
    return false;
  }
  bytes_ += size;
  return true;
}

void Recorder::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace device
