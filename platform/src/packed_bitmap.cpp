#include "packed_bitmap.h"

#include <cstring>

#include "platform/screen_grab.h"

namespace plat {
namespace {

void PutLe16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutLe32(std::uint8_t* p, std::uint32_t v) {
  PutLe16(p, v);
  PutLe16(p + 2, v >> 16);
}
std::int32_t GetLe32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}
std::int32_t GetLe16(const std::uint8_t* p) { return p[0] | p[1] << 8; }

}  // namespace

void WritePackedHeader(std::uint8_t* p, std::int32_t width, std::int32_t height, std::int64_t rowBytes) {
  std::memset(p, 0, kPackedHeaderSize);
  PutLe32(p, kPackedHeaderSize);
  PutLe32(p + 4, static_cast<std::uint32_t>(width));
  PutLe32(p + 8, static_cast<std::uint32_t>(height));  // positive: bottom-up rows
  PutLe16(p + 12, 1);                                  // planes
  PutLe16(p + 14, 24);                                 // bits per pixel
  PutLe32(p + 16, 0);                                  // uncompressed
  PutLe32(p + 20, static_cast<std::uint32_t>(rowBytes * height));
}

PackedInfo ReadPackedHeader(const std::uint8_t* p) {
  PackedInfo info;
  info.headerSize = GetLe32(p);
  info.width = GetLe32(p + 4);
  info.height = GetLe32(p + 8);
  info.bitCount = GetLe16(p + 14);
  info.rowBytes = static_cast<std::int32_t>(PackedRowBytes(info.width));
  return info;
}

}  // namespace plat
