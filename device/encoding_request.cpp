#include "device/encoding_request.h"

#include <cstring>

namespace device {

void buildParamsRecord(const EncodingRequest& r, ParamsRecord out) {
  std::memset(out, 0, TD_ENC_PARAMS_WIRE_SIZE);
  const std::uint32_t words[] = {r.mode,     r.resolutionCode,   r.profile,      r.frameRate,
                                 r.frameRateDivisor, r.bitRate, r.maxPacketSize};
  for (unsigned i = 0; i < sizeof words / sizeof words[0]; ++i) td_put_be32(out + 4 * i, words[i]);
}

EncodingRequest parseParamsRecord(const std::uint8_t* record, std::uint32_t length) {
  auto word = [&](unsigned i) -> std::uint32_t {
    return 4 * i + 4 <= length ? td_get_be32(record + 4 * i) : 0;
  };
  EncodingRequest r;
  r.mode = word(0);
  r.resolutionCode = word(1);
  r.profile = word(2);
  r.frameRate = word(3);
  r.frameRateDivisor = word(4);
  r.bitRate = word(5);
  r.maxPacketSize = word(6);
  return r;
}

}  // namespace device
