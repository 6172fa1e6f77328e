#include "platform/clock.h"

#include <time.h>

namespace plat {

std::int64_t nowSeconds() { return static_cast<std::int64_t>(time(nullptr)); }

std::int64_t monotonicUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

}  // namespace plat
