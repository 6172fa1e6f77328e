#include "encoding_params_parser.h"

#include "tdwire.h"

namespace {

std::uint32_t Word(const unsigned char* payload, std::uint32_t length, int index) {
  std::uint32_t offset = static_cast<std::uint32_t>(index) * 4;
  return offset + 4 <= length ? td_get_be32(payload + offset) : 0;
}

std::int32_t Clamp(std::int32_t v, std::int32_t low, std::int32_t high) {
  return v <= low ? low : v >= high ? high : v;
}

}  // namespace

std::int32_t LimitBitRate(std::uint32_t word) { return Clamp(static_cast<std::int32_t>(word), 16000, 4096000); }

EncodingParams ParseEncodingParams(const unsigned char* payload, std::uint32_t length) {
  EncodingParams p{};
  for (int i = 0; i < 46; ++i) EncodingParamsField(p, i) = 0;

  std::uint32_t mode = Word(payload, length, 0);
  std::uint32_t code = Word(payload, length, 1);
  std::uint32_t profile = Word(payload, length, 2);
  std::uint32_t rate = Word(payload, length, 3);
  std::uint32_t divisor = Word(payload, length, 4);

  p.encodingMode = mode < 8 ? static_cast<std::int32_t>(mode) : 3;
  p.resolutionCode = code < 46 ? static_cast<std::int32_t>(code) : 18;
  p.profile = profile == 64 || profile == 66 ? 66 : 100;

  // At most 15 frames per second for each unit of the divisor (1 to 6).
  std::uint32_t d = divisor == 0 ? 1 : divisor >= 6 ? 6 : divisor;
  p.frameRate = rate / d > 15 ? static_cast<std::int32_t>(15 * d) : static_cast<std::int32_t>(rate);
  p.frameRateDivisor = 1;

  p.bitRate = LimitBitRate(Word(payload, length, 5));
  p.maxPacketSize = Clamp(static_cast<std::int32_t>(Word(payload, length, 6)), 128, 1436);
  EncodingParamsField(p, 9) = Clamp(static_cast<std::int32_t>(Word(payload, length, 9)), 0, 1);
  for (int i = 10; i < 28; ++i) EncodingParamsField(p, i) = static_cast<std::int32_t>(Word(payload, length, i));
  return p;
}
