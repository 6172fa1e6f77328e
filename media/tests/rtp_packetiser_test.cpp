// Packet sizes and header bits of the packetiser, read byte by byte.
#include <gtest/gtest.h>

#include <vector>

#include "media/rtp_packetiser.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Recorder : OutBitStream {
  std::vector<Bytes> packets;
  int32_t Write(const uint8_t* data, int32_t length) override {
    packets.emplace_back(data, data + length);
    return 1;
  }
};

// A unit with a 4-byte start code (or 3), header byte `header`, and a body
// of `n - 1` counting bytes.
Bytes Unit(int n, uint8_t header, int startCode = 4) {
  Bytes u(size_t(startCode - 1), 0);
  u.push_back(1);
  u.push_back(header);
  for (int i = 1; i < n; ++i) u.push_back(uint8_t(i * 7));
  return u;
}

std::vector<size_t> Sizes(const Recorder& r) {
  std::vector<size_t> s;
  for (const Bytes& p : r.packets) s.push_back(p.size());
  return s;
}

void ExpectRtpHeader(const Bytes& p, bool marker) {
  ASSERT_GE(p.size(), 12u);
  EXPECT_EQ(p[0], 0x80);
  EXPECT_EQ(p[1], marker ? 0xA5 : 0x25);
  for (int i = 2; i < 12; ++i) EXPECT_EQ(p[i], 0) << "byte " << i;
}

class Packetiser : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(packetiser.Allocate()); }
  Recorder sink;
  RtpPacketiser packetiser{&sink};
};

TEST_F(Packetiser, LongUnitGoesOutInFuAPiecesOf1298BodyBytes) {
  const Bytes unit = Unit(3000, 0x65);  // nal_ref_idc 3, IDR slice
  packetiser.SendFragmented(unit.data(), int32_t(unit.size()), true);
  ASSERT_EQ(Sizes(sink), (std::vector<size_t>{1312, 1312, 417}));
  const uint8_t fuHeaders[] = {0x85, 0x05, 0x45};
  Bytes body;
  for (size_t i = 0; i < 3; ++i) {
    const Bytes& p = sink.packets[i];
    ExpectRtpHeader(p, i == 2);
    EXPECT_EQ(p[12], 0x7C);  // (0x65 & 0xE0) | 28
    EXPECT_EQ(p[13], fuHeaders[i]);
    body.insert(body.end(), p.begin() + 14, p.end());
  }
  EXPECT_EQ(body, Bytes(unit.begin() + 5, unit.end()));
}

TEST_F(Packetiser, UnitThatFitsOnePieceGoesOutWhole) {
  const Bytes fits = Unit(1299, 0x41, 3);
  packetiser.SendFragmented(fits.data(), int32_t(fits.size()), false);
  ASSERT_EQ(Sizes(sink), (std::vector<size_t>{1311}));
  ExpectRtpHeader(sink.packets[0], false);
  EXPECT_EQ(Bytes(sink.packets[0].begin() + 12, sink.packets[0].end()), Bytes(fits.begin() + 3, fits.end()));

  sink.packets.clear();
  const Bytes over = Unit(1300, 0x41);
  packetiser.SendFragmented(over.data(), int32_t(over.size()), true);
  ASSERT_EQ(Sizes(sink), (std::vector<size_t>{1312, 15}));
  EXPECT_EQ(sink.packets[0][12], 0x5C);
  EXPECT_EQ(sink.packets[0][13], 0x81);
  EXPECT_EQ(sink.packets[1][13], 0x41);
  ExpectRtpHeader(sink.packets[0], false);
  ExpectRtpHeader(sink.packets[1], true);
}

TEST_F(Packetiser, HeaderOnlyUnitSendsNothingWhenFragmentingButOnePacketWhenSingle) {
  const Bytes unit = Unit(1, 0x09);
  packetiser.SendFragmented(unit.data(), int32_t(unit.size()), true);
  EXPECT_TRUE(sink.packets.empty());
  EXPECT_FALSE(RtpPacketiser::SendsFragmented(unit.data(), int32_t(unit.size())));
  packetiser.SendSingle(unit.data(), int32_t(unit.size()), true);
  ASSERT_EQ(Sizes(sink), (std::vector<size_t>{13}));
  EXPECT_EQ(sink.packets[0][12], 0x09);
  // Nothing but a start code, or less than one, sends nothing at all.
  const uint8_t empty[] = {0, 0, 0, 1};
  packetiser.SendSingle(empty, 4, true);
  packetiser.SendSingle(empty, 2, true);
  EXPECT_EQ(sink.packets.size(), 1u);
}

TEST_F(Packetiser, SingleModeSendsTheWholeUnitAndFragmentsOnlyPastTheMessageLimit) {
  const Bytes unit = Unit(3000, 0x65);
  packetiser.SendSingle(unit.data(), int32_t(unit.size()), true);
  ASSERT_EQ(Sizes(sink), (std::vector<size_t>{3012}));
  ExpectRtpHeader(sink.packets[0], true);

  // One media message carries at most 65536 bytes: a larger unit cannot go
  // out whole and is cut like in the fragmented mode.
  sink.packets.clear();
  const Bytes huge = Unit(70000, 0x65);
  packetiser.SendSingle(huge.data(), int32_t(huge.size()), true);
  ASSERT_EQ(sink.packets.size(), 54u);  // ceil(69999 / 1298)
  size_t body = 0;
  for (size_t i = 0; i < sink.packets.size(); ++i) {
    EXPECT_LE(sink.packets[i].size(), 1312u);
    ExpectRtpHeader(sink.packets[i], i + 1 == sink.packets.size());
    body += sink.packets[i].size() - 14;
  }
  EXPECT_EQ(body, 69999u);
}

}  // namespace
