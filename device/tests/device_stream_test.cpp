// The device receiving a real H.264 stream over its connection: pictures
// from libx264, packetised here, sent as media messages by a raw sender.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/device.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "logged_device.h"
#include "raw_client.h"
#include "stream_builder.h"

namespace {

using devtest::Bytes;
using devtest::RawClient;
using devtest::WireFrame;

constexpr std::uint32_t kStampAgeMs = 200;

// The part of a log line from "stats: " on, read with the agreed format and
// printed again with it: equal only when the line follows the format exactly.
struct StatsLine {
  unsigned pictures = 0, decoded = 0, kbps = 0;
  unsigned long long gaps = 0, idr = 0, errors = 0;
  int width = 0, height = 0;
  double median = 0, p95 = 0;
};
bool readStats(const std::string& line, StatsLine* s) {
  const char* text = std::strstr(line.c_str(), "stats: ");
  const char* fmt = "stats: pictures=%u/s decoded=%u/s kbps=%u gaps=%llu idr=%llu errors=%llu size=%dx%d latency_ms=%lf/%lf";
  if (!text || std::sscanf(text, fmt, &s->pictures, &s->decoded, &s->kbps, &s->gaps, &s->idr, &s->errors,
                           &s->width, &s->height, &s->median, &s->p95) != 10)
    return false;
  char again[256];
  std::snprintf(again, sizeof again,
                "stats: pictures=%u/s decoded=%u/s kbps=%u gaps=%llu idr=%llu errors=%llu size=%dx%d latency_ms=%.1f/%.1f",
                s->pictures, s->decoded, s->kbps, s->gaps, s->idr, s->errors, s->width, s->height, s->median, s->p95);
  return again == std::string(text);
}

struct SummaryLine {
  double seconds = 0, fps = 0, kbps = 0, median = 0, p95 = 0;
  unsigned long long pictures = 0, decoded = 0, gaps = 0, idr = 0, errors = 0;
  int width = 0, height = 0;
};
bool readSummary(const std::string& line, SummaryLine* s) {
  const char* text = std::strstr(line.c_str(), "summary: ");
  const char* fmt =
      "summary: seconds=%lf pictures=%llu decoded=%llu fps=%lf kbps=%lf gaps=%llu idr=%llu errors=%llu "
      "size=%dx%d latency_median_ms=%lf latency_p95_ms=%lf";
  if (!text || std::sscanf(text, fmt, &s->seconds, &s->pictures, &s->decoded, &s->fps, &s->kbps, &s->gaps,
                           &s->idr, &s->errors, &s->width, &s->height, &s->median, &s->p95) != 12)
    return false;
  char again[320];
  std::snprintf(again, sizeof again,
                "summary: seconds=%.1f pictures=%llu decoded=%llu fps=%.2f kbps=%.0f gaps=%llu idr=%llu "
                "errors=%llu size=%dx%d latency_median_ms=%.1f latency_p95_ms=%.1f",
                s->seconds, s->pictures, s->decoded, s->fps, s->kbps, s->gaps, s->idr, s->errors, s->width,
                s->height, s->median, s->p95);
  return again == std::string(text);
}

struct Seen {
  int width, height, stampCounter;
  bool idr;
};

class DeviceStreamTest : public devtest::LoggedDeviceTest {
 protected:
  // Starts a device that also notes every picture it decodes.
  device::Device& start(const char* address, device::DeviceOptions o) {
    o.onPicture = [this](const device::DecodedFrame& f) {
      std::lock_guard<std::mutex> g(seenLock_);
      seen_.push_back({f.width, f.height, f.stampCounter, f.idr});
    };
    return LoggedDeviceTest::start(address, o);
  }

  // Pairs and asks for a start; returns the parameters the device sent.
  WireFrame pairAndStart(RawClient& c, const char* address) {
    WireFrame f;
    EXPECT_TRUE(c.connect(address));
    EXPECT_TRUE(c.sendBanner());
    EXPECT_TRUE(c.nextMessage(&f, 2000));
    EXPECT_EQ(f.type, std::uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
    EXPECT_TRUE(c.send(TDMSG_START_ENCODING_REQ));
    EXPECT_TRUE(c.nextMessage(&f, 2000));
    EXPECT_EQ(f.type, std::uint32_t(TDMSG_START_ENCODING_ACK));
    return f;
  }

  // Encodes and sends `count` pictures, `gapMs` apart; returns their access
  // units as the device should rebuild them.
  Bytes sendPictures(RawClient& c, devtest::TestEncoder& enc, int count, int gapMs, std::uint16_t* seq,
                     int firstCounter = 0, int idrAt = -1) {
    Bytes all;
    for (int i = 0; i < count; ++i) {
      // Stamped as if drawn kStampAgeMs ago, so the latency figures have a
      // known floor.
      const std::uint32_t drawnMs = static_cast<std::uint32_t>(plat::monotonicUs() / 1000) - kStampAgeMs;
      auto nals = enc.encode(static_cast<std::uint16_t>(firstCounter + i), drawnMs, i == idrAt);
      Bytes au = devtest::annexB(nals);
      all.insert(all.end(), au.begin(), au.end());
      for (const Bytes& p : devtest::packetise(nals, seq)) EXPECT_TRUE(c.send(TDMSG_MEDIA, p));
      if (gapMs) plat::sleepMs(gapMs);
    }
    return all;
  }

  std::mutex seenLock_;
  std::vector<Seen> seen_;
};

TEST_F(DeviceStreamTest, DecodesRecordsAndCountsAStreamAcrossAParameterUpdate) {
  device::DeviceOptions o;
  o.encoding.resolutionCode = 29;  // 320x180
  o.readStamps = true;
  o.recordPath = ::testing::TempDir() + "device_stream_test.h264";
  auto& d = start("127.0.60.1", o);
  RawClient c;
  WireFrame params = pairAndStart(c, "127.0.60.1");
  EXPECT_EQ(td_get_be32(params.payload.data() + 4), 29u);

  // 1.3 s of pictures at about 30 a second: an intra refresh at picture 20.
  devtest::TestEncoder small(320, 180, 30);
  std::uint16_t seq = 0;
  Bytes expected = sendPictures(c, small, 40, 33, &seq, 0, 20);

  // The device asks for another size: the sender starts a new run, with
  // sequence numbers from 1 and new parameter sets.
  device::EncodingRequest bigger = o.encoding;
  bigger.resolutionCode = 30;  // 640x360
  ASSERT_TRUE(d.sendEncodingParams(bigger));
  WireFrame f;
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  ASSERT_EQ(f.type, std::uint32_t(TDMSG_START_ENCODING_ACK));
  devtest::TestEncoder large(640, 360, 30);
  seq = 0;
  Bytes more = sendPictures(c, large, 10, 10, &seq, 40);
  expected.insert(expected.end(), more.begin(), more.end());

  ASSERT_TRUE(c.send(TDMSG_STOP_ENCODING_REQ));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  EXPECT_EQ(f.type, std::uint32_t(TDMSG_STOP_ENCODING_ACK));

  device::StreamStats s = d.streamStats();
  EXPECT_EQ(s.pictures, 50u);
  EXPECT_EQ(s.decoded, 50u);
  EXPECT_EQ(s.idrPictures, 3u);
  EXPECT_EQ(s.sequenceGaps, 0u);
  EXPECT_EQ(s.decodeErrors, 0u);
  EXPECT_EQ(s.stamps, 50u);
  EXPECT_EQ(s.width, 640);
  EXPECT_EQ(s.height, 360);
  EXPECT_GE(s.latencyMedianMs, kStampAgeMs);
  EXPECT_GE(s.latencyP95Ms, s.latencyMedianMs);
  EXPECT_LT(s.latencyP95Ms, kStampAgeMs + 1000.0);
  {
    std::lock_guard<std::mutex> g(seenLock_);
    ASSERT_EQ(seen_.size(), 50u);
    for (int i = 0; i < 50; ++i) {
      EXPECT_EQ(seen_[i].stampCounter, i);
      EXPECT_EQ(seen_[i].idr, i == 0 || i == 20 || i == 40) << i;
      EXPECT_EQ(seen_[i].width, i < 40 ? 320 : 640);
    }
  }

  // At least one line a second while the stream ran, in the agreed form.
  auto lines = linesWith("stats: ");
  ASSERT_GE(lines.size(), 1u);
  for (const auto& line : lines) {
    StatsLine st;
    ASSERT_TRUE(readStats(line, &st)) << line;
    EXPECT_EQ(st.gaps + st.errors, 0u) << line;
  }
  StatsLine first;
  readStats(lines[0], &first);
  EXPECT_EQ(first.width, 320);
  EXPECT_GE(first.pictures, 20u);  // about 30 were sent in that second
  lines = linesWith("summary: ");
  ASSERT_EQ(lines.size(), 1u);
  SummaryLine sum;
  ASSERT_TRUE(readSummary(lines[0], &sum)) << lines[0];
  EXPECT_EQ(sum.pictures, 50u);
  EXPECT_EQ(sum.decoded, 50u);
  EXPECT_EQ(sum.idr, 3u);
  EXPECT_EQ(sum.gaps + sum.errors, 0u);
  EXPECT_EQ(sum.width, 640);
  EXPECT_GT(sum.fps, 0);
  EXPECT_GT(sum.kbps, 0);

  // The recording holds every access unit as received.
  d.stop();
  std::ifstream file(o.recordPath, std::ios::binary);
  Bytes recorded((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(recorded.size(), expected.size());
  EXPECT_TRUE(recorded == expected);
  // Stopping the device sums up everything it received.
  EXPECT_EQ(linesWith("summary: ").size(), 2u);
}

TEST_F(DeviceStreamTest, ScriptedEventsReachTheSenderInOrder) {
  device::DeviceOptions o;
  o.script.idrEverySeconds = 0.3;
  o.script.bitRates = {{0.2, 500000}};
  o.script.params = {{0.5, {{"size", "640x360"}, {"fps", "30"}}}};
  o.script.stopAtSeconds = 0.9;
  start("127.0.60.2", o);
  RawClient c;
  WireFrame ack = pairAndStart(c, "127.0.60.2");
  std::vector<WireFrame> got;
  WireFrame f;
  while (c.nextMessage(&f, 3000)) {
    got.push_back(f);
    if (f.type == TDMSG_STOP_ENCODING_ACK) break;
  }
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back().type, std::uint32_t(TDMSG_STOP_ENCODING_ACK));
  // Nothing fires before its time (counted from the start acknowledgement).
  EXPECT_GE(got.back().atUs - ack.atUs, 850000);
  int intra = 0, bitRates = 0, params = 0;
  for (const WireFrame& m : got) {
    if (m.type == TDMSG_VFU_REQ) ++intra;
    if (m.type == TDMSG_UPDATE_ENC_BITRATE_INDIC) {
      ++bitRates;
      ASSERT_EQ(m.payload.size(), 4u);
      EXPECT_EQ(td_get_be32(m.payload.data()), 500000u);
      EXPECT_EQ(params, 0);  // 0.2 s comes before 0.5 s
    }
    if (m.type == TDMSG_START_ENCODING_ACK) {
      ++params;
      ASSERT_EQ(m.payload.size(), 112u);
      EXPECT_EQ(td_get_be32(m.payload.data() + 4), 30u);   // 640x360
      EXPECT_EQ(td_get_be32(m.payload.data() + 12), 30u);  // 30 fps ...
      EXPECT_EQ(td_get_be32(m.payload.data() + 16), 2u);   // ... kept by divisor 2
    }
  }
  EXPECT_GE(intra, 2);
  EXPECT_EQ(bitRates, 1);
  EXPECT_EQ(params, 1);
  EXPECT_EQ(linesWith("script: ").size(), got.size());
  // The stream's summary, with nothing received.
  auto lines = linesWith("summary: ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("pictures=0 decoded=0"), std::string::npos) << lines[0];
}

TEST_F(DeviceStreamTest, ConnectionLostWhileStreamingEndsTheStream) {
  device::DeviceOptions o;
  o.encoding.resolutionCode = 29;
  auto& d = start("127.0.60.4", o);
  RawClient c;
  pairAndStart(c, "127.0.60.4");
  devtest::TestEncoder enc(320, 180, 30, /*baseline=*/true);
  std::uint16_t seq = 0;
  sendPictures(c, enc, 5, 0, &seq);
  // Half a picture, then the sender is gone.
  auto nals = enc.encode(5, 0);
  auto packets = devtest::packetise(nals, &seq);
  ASSERT_GT(packets.size(), 1u);
  ASSERT_TRUE(c.send(TDMSG_MEDIA, packets[0]));
  c.close();
  ASSERT_TRUE(d.waitFor([](const device::DeviceState& st) { return st.connectionsEnded == 1; }, 3000));
  auto lines = linesWith("summary: ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("pictures=5 decoded=5"), std::string::npos) << lines[0];
  EXPECT_EQ(d.streamStats().decodeErrors, 0u);
}

TEST(DeviceRecord, AFileThatCannotBeOpenedStopsTheStart) {
  device::DeviceOptions o;
  o.bindAddress = "127.0.60.3";
  o.recordPath = "/nonexistent-folder/out.h264";
  std::vector<std::string> log;
  o.log = [&](const std::string& line) { log.push_back(line); };
  device::Device d(o);
  std::string error;
  EXPECT_FALSE(d.start(&error));
  EXPECT_NE(error.find("cannot open /nonexistent-folder/out.h264 for recording"), std::string::npos) << error;
}

}  // namespace
