// Writes the received stream to a file as it arrives: every access unit in
// Annex B form, one after another, which H.264 tools read as a raw stream.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace device {

class Recorder {
 public:
  Recorder() = default;
  ~Recorder() { close(); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Creates or truncates the file; false with the reason in *error.
  bool open(const std::string& path, std::string* error);
  bool isOpen() const { return file_ != nullptr; }
  // False when the write failed (the disk is full, ...); the file is then
  // closed and nothing more is written, with the reason in *error.
  bool write(const std::uint8_t* data, std::size_t size, std::string* error);
  void close();
  std::uint64_t bytesWritten() const { return bytes_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  std::uint64_t bytes_ = 0;
};

}  // namespace device
