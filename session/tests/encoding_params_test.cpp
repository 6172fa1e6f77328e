// The device's parameter record: limits, frame-rate rule, short payloads.
#include <gtest/gtest.h>

#include <vector>

#include "encoding_params_parser.h"
#include "tdwire.h"

namespace {

std::vector<unsigned char> Record(std::initializer_list<std::pair<int, std::uint32_t>> words, std::size_t size = 112) {
  std::vector<unsigned char> r(size, 0);
  for (auto& w : words)
    if (w.first * 4 + 4 <= static_cast<int>(size)) td_put_be32(r.data() + w.first * 4, w.second);
  return r;
}

EncodingParams Parse(const std::vector<unsigned char>& r) {
  return ParseEncodingParams(r.data(), static_cast<std::uint32_t>(r.size()));
}

TEST(EncodingParams, ValuesWithinLimitsAreTakenAndEverythingElseStartsAtZero) {
  std::vector<std::pair<int, std::uint32_t>> words = {{0, 5}, {1, 28}, {2, 66}, {3, 12}, {4, 1}, {5, 2000000},
                                                      {6, 1200}, {7, 77}, {8, 88}, {9, 1}};
  for (int i = 10; i < 28; ++i) words.push_back({i, 0x01000000u + static_cast<std::uint32_t>(i)});
  std::vector<unsigned char> r(112, 0);
  for (auto& w : words) td_put_be32(r.data() + w.first * 4, w.second);
  EncodingParams p = Parse(r);
  EXPECT_EQ(p.encodingMode, 5);
  EXPECT_EQ(p.resolutionCode, 28);
  EXPECT_EQ(p.profile, 66);
  EXPECT_EQ(p.frameRate, 12);
  EXPECT_EQ(p.frameRateDivisor, 1);
  EXPECT_EQ(p.bitRate, 2000000);
  EXPECT_EQ(p.maxPacketSize, 1200);
  EXPECT_EQ(EncodingParamsField(p, 7), 0);
  EXPECT_EQ(EncodingParamsField(p, 8), 0);
  EXPECT_EQ(EncodingParamsField(p, 9), 1);
  for (int i = 10; i < 28; ++i) EXPECT_EQ(EncodingParamsField(p, i), 0x01000000 + i) << i;
  for (int i = 28; i < 46; ++i) EXPECT_EQ(EncodingParamsField(p, i), 0) << i;
}

TEST(EncodingParams, OutOfRangeValuesAreReplacedOrClamped) {
  EncodingParams p = Parse(Record({{0, 9}, {1, 46}, {2, 64}, {5, 8000}, {6, 1500}, {9, 5}}));
  EXPECT_EQ(p.encodingMode, 3);
  EXPECT_EQ(p.resolutionCode, 18);
  EXPECT_EQ(p.profile, 66);
  EXPECT_EQ(p.bitRate, 16000);
  EXPECT_EQ(p.maxPacketSize, 1436);
  EXPECT_EQ(EncodingParamsField(p, 9), 1);

  p = Parse(Record({{0, 0xFFFFFFFF}, {1, 0xFFFFFFFF}, {2, 77}, {5, 5000000}, {6, 100}, {9, 0xFFFFFFFE}}));
  EXPECT_EQ(p.encodingMode, 3);
  EXPECT_EQ(p.resolutionCode, 18);
  EXPECT_EQ(p.profile, 100);
  EXPECT_EQ(p.bitRate, 4096000);
  EXPECT_EQ(p.maxPacketSize, 128);
  EXPECT_EQ(EncodingParamsField(p, 9), 0);
  // Negative as signed values: the lower limits apply.
  p = Parse(Record({{5, 0x80000000u}, {6, 0xFFFFFFFFu}}));
  EXPECT_EQ(p.bitRate, 16000);
  EXPECT_EQ(p.maxPacketSize, 128);
}

TEST(EncodingParams, FrameRateIsLimitedToFifteenPerDivisorUnit) {
  struct Case {
    std::uint32_t rate, divisor;
    std::int32_t expected;
  } cases[] = {{30, 1, 15}, {30, 2, 30}, {60, 0, 15}, {100, 9, 90}, {15, 1, 15}, {16, 1, 15},
               {0, 1, 0},   {0xFFFFFFFF, 3, 45}, {31, 2, 31}, {32, 2, 30}};
  for (auto& c : cases) {
    EncodingParams p = Parse(Record({{3, c.rate}, {4, c.divisor}}));
    EXPECT_EQ(p.frameRate, c.expected) << c.rate << "/" << c.divisor;
    EXPECT_EQ(p.frameRateDivisor, 1);
  }
}

TEST(EncodingParams, ShortPayloadReadsMissingWordsAsZeroAndNothingBeyond) {
  // Only the first three words arrive (and two bytes of the fourth); the
  // record is built in a buffer of exactly that size, so ASan sees any
  // read past it.
  std::vector<unsigned char> r = Record({{0, 2}, {1, 7}, {2, 100}, {3, 0x0A0B0C0D}}, 14);
  std::vector<unsigned char> exact(r.begin(), r.end());
  EncodingParams p = ParseEncodingParams(exact.data(), static_cast<std::uint32_t>(exact.size()));
  EXPECT_EQ(p.encodingMode, 2);
  EXPECT_EQ(p.resolutionCode, 7);
  EXPECT_EQ(p.profile, 100);
  EXPECT_EQ(p.frameRate, 0);
  EXPECT_EQ(p.bitRate, 16000);
  EXPECT_EQ(p.maxPacketSize, 128);

  p = ParseEncodingParams(nullptr, 0);
  EXPECT_EQ(p.encodingMode, 0);
  EXPECT_EQ(p.resolutionCode, 0);
  EXPECT_EQ(p.profile, 100);
}

}  // namespace
