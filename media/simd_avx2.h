// Small AVX2 helpers shared by the AVX2 row kernels. Include only from files
// compiled for AVX2.
#pragma once
#include <immintrin.h>

#include <cstdint>

namespace scaler_detail {

// Two unaligned 16-byte loads into the low and high lanes of one register.
static inline __m256i Load2(const std::uint8_t* lo, const std::uint8_t* hi) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}

}  // namespace scaler_detail
