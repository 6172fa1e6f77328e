#pragma once
#include <cstdint>

namespace plat {

// Wall-clock time in whole seconds since 1970.
std::int64_t nowSeconds();
// A monotonic clock in microseconds, for measuring intervals.
std::int64_t monotonicUs();

}  // namespace plat
