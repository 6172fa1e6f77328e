// The picture sizes the device names by code.
#pragma once
#include <cstdint>

constexpr int kResolutionCodes = 46;

// 0 and the code's width and height; -1 and 0 x 0 for a code not in the table.
std::int32_t GetResolution(std::int32_t code, std::int32_t* width, std::int32_t* height);
