// The picture sizes that the device names by resolution code in its encoding
// parameter record.
#pragma once
#include <cstdint>

namespace device {

constexpr int kResolutionCount = 46;

struct Resolution {
  int code;
  int width;
  int height;
};

// The size for a code; false (and 0 x 0) when the code is not in the table.
bool resolutionSize(int code, int* width, int* height);
// The first code that names width x height; -1 when none does.
int resolutionCode(int width, int height);

}  // namespace device
