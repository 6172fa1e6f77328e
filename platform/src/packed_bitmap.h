// Writing the header of the packed bitmap that every grab back-end produces.
#pragma once
#include <cstdint>

namespace plat {

// The 40-byte header for width x height pixels of 24 bits, rows bottom-up,
// each rowBytes long.
void WritePackedHeader(std::uint8_t* p, std::int32_t width, std::int32_t height, std::int64_t rowBytes);

}  // namespace plat
