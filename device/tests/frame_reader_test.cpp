#include "device/frame_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tdwire.h"

namespace {

struct Seen {
  std::uint32_t type;
  std::string payload;
};

std::vector<std::uint8_t> frame(std::uint32_t type, const std::string& payload) {
  std::vector<std::uint8_t> out(8 + payload.size());
  td_put_be32(out.data(), type);
  td_put_be32(out.data() + 4, static_cast<std::uint32_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), out.begin() + 8);
  return out;
}

class FrameReaderTest : public ::testing::Test {
 protected:
  device::FrameReader::Result feed(const std::vector<std::uint8_t>& bytes) {
    return reader.feed(bytes.data(), bytes.size(), [this](const device::Frame& f) {
      seen.push_back({f.type, std::string(reinterpret_cast<const char*>(f.payload), f.length)});
    });
  }
  device::FrameReader reader{64};
  std::vector<Seen> seen;
};

TEST_F(FrameReaderTest, FramesSplitAnywhereAndManyInOneChunk) {
  std::vector<std::uint8_t> stream;
  for (auto f : {frame(2, "Tandeo V1.0"), frame(8, ""), frame(4, std::string(16, 'd')), frame(9, "")})
    stream.insert(stream.end(), f.begin(), f.end());
  // One byte at a time: each frame is handled once its last byte is in.
  for (std::uint8_t b : stream) ASSERT_EQ(feed({b}), device::FrameReader::Result::Ok);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].type, 2u);
  EXPECT_EQ(seen[0].payload, "Tandeo V1.0");
  EXPECT_EQ(seen[1].type, 8u);
  EXPECT_EQ(seen[2].payload, std::string(16, 'd'));
  EXPECT_EQ(seen[3].type, 9u);
  EXPECT_EQ(reader.buffered(), 0u);

  // All at once, and a tail that stays buffered for the next chunk.
  seen.clear();
  std::vector<std::uint8_t> more = stream;
  more.insert(more.end(), {0, 0, 0, 5, 0});
  ASSERT_EQ(feed(more), device::FrameReader::Result::Ok);
  EXPECT_EQ(seen.size(), 4u);
  EXPECT_EQ(reader.buffered(), 5u);
  ASSERT_EQ(feed({0, 0, 0}), device::FrameReader::Result::Ok);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[4].type, 5u);
}

TEST_F(FrameReaderTest, LargestFrameFitsAndChunksLargerThanTheBufferWork) {
  std::vector<std::uint8_t> stream;
  for (int i = 0; i < 5; ++i) {
    auto f = frame(7, std::string(64, static_cast<char>('a' + i)));
    stream.insert(stream.end(), f.begin(), f.end());
  }
  ASSERT_EQ(feed(stream), device::FrameReader::Result::Ok);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[4].payload, std::string(64, 'e'));
}

TEST_F(FrameReaderTest, OversizedLengthIsRefusedFromItsHeaderAlone) {
  ASSERT_EQ(feed(frame(8, "")), device::FrameReader::Result::Ok);
  std::vector<std::uint8_t> header = {0, 0, 0, 7, 0xFF, 0xFF, 0xFF, 0xF0};
  EXPECT_EQ(feed(header), device::FrameReader::Result::Oversized);
  EXPECT_EQ(reader.refusedLength(), 0xFFFFFFF0u);
  EXPECT_EQ(reader.buffered(), 0u);
  // One byte over the limit is refused too; the reader stays refused.
  reader.reset();
  EXPECT_EQ(feed({0, 0, 0, 7, 0, 0, 0, 65}), device::FrameReader::Result::Oversized);
  EXPECT_EQ(feed(frame(8, "")), device::FrameReader::Result::Oversized);
  EXPECT_EQ(seen.size(), 1u);
  reader.reset();
  EXPECT_EQ(feed(frame(8, "")), device::FrameReader::Result::Ok);
  EXPECT_EQ(seen.size(), 2u);
}

}  // namespace
