// Arbitrary type-6 payloads through the parameter record parser: nothing is
// read past the payload, and every field it lets through is within limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "encoding_params_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly the payload's size, so ASan sees any read beyond it.
  std::unique_ptr<unsigned char[]> payload(new unsigned char[size ? size : 1]);
  if (size) std::memcpy(payload.get(), data, size);
  EncodingParams p = ParseEncodingParams(payload.get(), static_cast<std::uint32_t>(size));
  bool ok = p.encodingMode >= 0 && p.encodingMode < 8 && p.resolutionCode >= 0 && p.resolutionCode < 46 &&
            (p.profile == 66 || p.profile == 100) && p.frameRateDivisor == 1 && p.bitRate >= 16000 &&
            p.bitRate <= 4096000 && p.maxPacketSize >= 128 && p.maxPacketSize <= 1436 &&
            (EncodingParamsField(p, 9) == 0 || EncodingParamsField(p, 9) == 1) && p.frameRate <= 95;  // 15 per divisor unit, divisor at most 6, plus what rounds down
  if (!ok) std::abort();
  return 0;
}
