// Win32 back-end of the clocks: the C runtime's 64-bit time for the wall
// clock, the performance counter for intervals.
#include <windows.h>
#include <time.h>

#include "platform/clock.h"

namespace plat {

std::int64_t nowSeconds() { return static_cast<std::int64_t>(_time64(nullptr)); }

std::int64_t monotonicUs() {
  // The frequency is fixed at boot: read once.
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<std::int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  const std::int64_t ticks = c.QuadPart;
  // Whole seconds and the remainder apart, so that ticks x 10^6 never
  // overflows however long the machine has been up.
  return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

}  // namespace plat
