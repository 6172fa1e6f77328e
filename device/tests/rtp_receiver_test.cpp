// The device's RTP receiver against packets built here: the sender's packet
// shapes, broken fragment runs, sequence breaks and malformed packets.
#include "device/rtp_receiver.h"

#include <gtest/gtest.h>

#include <random>

#include "stream_builder.h"

namespace {

using devtest::Bytes;

Bytes nal(std::uint8_t header, std::size_t size, std::uint8_t seed = 1) {
  Bytes n(size);
  n[0] = header;
  for (std::size_t i = 1; i < size; ++i) n[i] = static_cast<std::uint8_t>(seed + i * 7);
  return n;
}

// Feeds packets; returns the access units completed, as bytes.
std::vector<Bytes> feedAll(device::RtpReceiver& r, const std::vector<Bytes>& packets,
                           std::vector<bool>* idr = nullptr) {
  std::vector<Bytes> units;
  for (const Bytes& p : packets)
    if (r.feed(p.data(), p.size())) {
      const device::AccessUnit& u = r.accessUnit();
      units.emplace_back(u.data, u.data + u.size);
      if (idr) idr->push_back(u.idr);
    }
  return units;
}

const Bytes kSps = nal(0x67, 12), kPps = nal(0x68, 5);

TEST(RtpReceiver, SingleUnitsAndFragmentsMakeAnnexBUnits) {
  device::RtpReceiver r;
  std::uint16_t seq = 0;
  // A key picture: parameter sets whole, a 3000-byte IDR slice in three
  // FU-A pieces; then a P picture of one 1300-byte slice (two pieces) and
  // one of 1299 bytes (a single packet).
  std::vector<Bytes> idrPicture{kSps, kPps, nal(0x65, 3000)};
  std::vector<Bytes> p1{nal(0x41, 1300, 9)}, p2{nal(0x41, 1299, 3)};
  auto packets = devtest::packetise(idrPicture, &seq);
  ASSERT_EQ(packets.size(), 5u);
  EXPECT_EQ(packets[2].size(), 1312u);
  EXPECT_EQ(packets[4].size(), 417u);
  auto more = devtest::packetise(p1, &seq);
  ASSERT_EQ(more.size(), 2u);
  packets.insert(packets.end(), more.begin(), more.end());
  more = devtest::packetise(p2, &seq);
  packets.insert(packets.end(), more.begin(), more.end());

  std::vector<bool> idr;
  auto units = feedAll(r, packets, &idr);
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[0], devtest::annexB(idrPicture));
  EXPECT_EQ(units[1], devtest::annexB(p1));
  EXPECT_EQ(units[2], devtest::annexB(p2));
  EXPECT_EQ(idr, (std::vector<bool>{true, false, false}));
  // The padding a decoder reads ahead is zero.
  const device::AccessUnit& last = r.accessUnit();
  for (std::size_t i = 0; i < device::RtpReceiver::kPadding; ++i) ASSERT_EQ(last.data[last.size + i], 0);
  const device::RtpCounters& c = r.counters();
  EXPECT_EQ(c.packets, packets.size());
  EXPECT_EQ(c.pictures, 3u);
  EXPECT_EQ(c.idrPictures, 1u);
  EXPECT_EQ(c.sequenceGaps + c.malformed + c.fragmentsDropped + c.picturesDropped, 0u);
}

TEST(RtpReceiver, BrokenFragmentRunsAreDroppedAndTheRestKept) {
  std::uint16_t seq = 100;
  const Bytes big = nal(0x65, 4000);  // four pieces
  std::vector<Bytes> picture{kSps, big, nal(0x65, 40, 5)};
  const auto packets = devtest::packetise(picture, &seq);
  ASSERT_EQ(packets.size(), 6u);

  {  // A gap inside the run: that unit goes, the others make the picture.
    device::RtpReceiver r;
    std::vector<Bytes> lossy = packets;
    lossy.erase(lossy.begin() + 2);
    auto units = feedAll(r, lossy);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0], devtest::annexB({kSps, picture[2]}));
    EXPECT_EQ(r.counters().sequenceGaps, 1u);
    EXPECT_EQ(r.counters().fragmentsDropped, 1u);
  }
  {  // The start lost: the orphaned pieces are dropped, counted once.
    device::RtpReceiver r;
    std::vector<Bytes> lossy = packets;
    lossy.erase(lossy.begin() + 1);
    auto units = feedAll(r, lossy);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0], devtest::annexB({kSps, picture[2]}));
    EXPECT_EQ(r.counters().fragmentsDropped, 1u);
  }
  {  // A new start before the end: the first run goes, the second stays.
    device::RtpReceiver r;
    std::uint16_t s = 0;
    auto a = devtest::packetise({big}, &s);
    auto b = devtest::packetise({nal(0x61, 2000, 4)}, &s);
    std::vector<Bytes> mixed{a[0], a[1]};
    for (auto& p : b) mixed.push_back(p);
    for (std::size_t i = 0; i < mixed.size(); ++i) {  // renumber: no gap
      mixed[i][2] = static_cast<std::uint8_t>((i + 1) >> 8);
      mixed[i][3] = static_cast<std::uint8_t>(i + 1);
    }
    auto units = feedAll(r, mixed);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0], devtest::annexB({nal(0x61, 2000, 4)}));
    EXPECT_EQ(r.counters().fragmentsDropped, 1u);
    EXPECT_EQ(r.counters().sequenceGaps, 0u);
  }
  {  // A marker on a middle piece ends the picture without the cut unit.
    device::RtpReceiver r;
    std::vector<Bytes> cut{packets[0], packets[1], packets[2]};
    cut[2][1] |= 0x80;
    auto units = feedAll(r, cut);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0], devtest::annexB({kSps}));
    EXPECT_EQ(r.counters().fragmentsDropped, 1u);
  }
}

TEST(RtpReceiver, SequenceNumbersWrapRestartAndBreak) {
  device::RtpReceiver r;
  std::uint16_t seq = 65533;  // 65534, 65535, 0, 1 ...
  std::vector<Bytes> packets;
  for (int i = 0; i < 4; ++i) {
    auto p = devtest::packetise({nal(0x41, 30, static_cast<std::uint8_t>(i))}, &seq);
    packets.insert(packets.end(), p.begin(), p.end());
  }
  EXPECT_EQ(feedAll(r, packets).size(), 4u);
  EXPECT_EQ(r.counters().sequenceGaps, 0u);

  // A new run numbers from 1 again: not a break.
  seq = 0;
  EXPECT_EQ(feedAll(r, devtest::packetise({kSps, kPps, nal(0x65, 50)}, &seq)).size(), 1u);
  EXPECT_EQ(r.counters().sequenceGaps, 0u);
  // A jump is one break; a repeated number is another.
  seq = 10;
  EXPECT_EQ(feedAll(r, devtest::packetise({nal(0x41, 30)}, &seq)).size(), 1u);
  seq = 10;
  EXPECT_EQ(feedAll(r, devtest::packetise({nal(0x41, 30)}, &seq)).size(), 1u);
  EXPECT_EQ(r.counters().sequenceGaps, 2u);
  // After reset() any number is the first.
  r.reset();
  seq = 5000;
  feedAll(r, devtest::packetise({nal(0x41, 30)}, &seq));
  EXPECT_EQ(r.counters().sequenceGaps, 2u);
}

TEST(RtpReceiver, MalformedPacketsAreCountedAndDropped) {
  device::RtpReceiver r;
  std::uint16_t seq = 0;
  auto ok = [&](std::uint8_t header) { return devtest::rtpPacket(++seq, true, nal(header, 20)); };
  std::vector<std::pair<const char*, Bytes>> bad;
  bad.push_back({"short", Bytes(11, 0x80)});
  Bytes p = ok(0x41);
  p[0] = 0x90;  // extension bit
  bad.push_back({"version byte", p});
  p = ok(0x41);
  p[1] = 0x80 | 96;
  bad.push_back({"payload type", p});
  p = ok(0x41);
  p[11] = 1;
  bad.push_back({"source", p});
  bad.push_back({"empty", devtest::rtpPacket(++seq, true, {})});
  bad.push_back({"forbidden bit", ok(0xC1)});
  bad.push_back({"STAP-A", ok(0x18)});
  bad.push_back({"FU-A start and end", devtest::rtpPacket(++seq, true, {0x7C, 0xC5, 1, 2})});
  bad.push_back({"FU-A no body", devtest::rtpPacket(++seq, true, {0x7C, 0x85})});
  bad.push_back({"FU-A of an FU-A", devtest::rtpPacket(++seq, true, {0x7C, 0x9C, 1})});
  for (const auto& b : bad) {
    const std::uint64_t before = r.counters().malformed;
    EXPECT_FALSE(r.feed(b.second.data(), b.second.size())) << b.first;
    EXPECT_EQ(r.counters().malformed, before + 1) << b.first;
    EXPECT_NE(r.lastFault(), nullptr) << b.first;
  }
  EXPECT_EQ(r.counters().pictures, 0u);
  // A good packet after all of them still makes a picture.
  Bytes good = ok(0x41);
  EXPECT_TRUE(r.feed(good.data(), good.size()));
  EXPECT_EQ(r.lastFault(), nullptr);
}

TEST(RtpReceiver, PictureTooLargeIsDroppedAndMemoryStaysBounded) {
  device::RtpReceiver r(8192);
  std::uint16_t seq = 0;
  auto big = devtest::packetise({kSps, nal(0x65, 9000)}, &seq);
  EXPECT_TRUE(feedAll(r, big).empty());
  EXPECT_EQ(r.counters().picturesDropped, 1u);
  auto fits = devtest::packetise({nal(0x41, 8000)}, &seq);
  auto units = feedAll(r, fits);
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].size(), 8004u);
  // A stream that never sets the marker cannot grow the picture either.
  for (int i = 0; i < 50; ++i) {
    Bytes p = devtest::rtpPacket(++seq, false, nal(0x41, 1000));
    r.feed(p.data(), p.size());
  }
  Bytes end = devtest::rtpPacket(++seq, true, nal(0x41, 10));
  EXPECT_FALSE(r.feed(end.data(), end.size()));
  EXPECT_EQ(r.counters().picturesDropped, 2u);
}

TEST(RtpReceiver, RandomBytesNeverBreakIt) {
  device::RtpReceiver r(1 << 16);
  std::mt19937 rng(7);
  Bytes p;
  for (int i = 0; i < 20000; ++i) {
    p.resize(rng() % 1400);
    for (auto& b : p) b = static_cast<std::uint8_t>(rng());
    if (p.size() > 12 && i % 2) {  // mostly valid headers, to reach the payload code
      p[0] = 0x80;
      p[1] = static_cast<std::uint8_t>(37 | (rng() % 4 == 0 ? 0x80 : 0));
      std::fill(p.begin() + 8, p.begin() + 12, 0);
      p[12] = static_cast<std::uint8_t>((p[12] & 0x7F) | (rng() % 2 ? 28 : 0));
    }
    if (r.feed(p.data(), p.size())) {
      ASSERT_LE(r.accessUnit().size, std::size_t(1) << 16);
    }
  }
  EXPECT_GT(r.counters().pictures, 0u);
}

}  // namespace
