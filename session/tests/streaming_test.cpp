// Encoding control and media messages through the exported interface.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <set>

#include "event_log.h"
#include "fake_device.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "tdsdk.h"
#include "tdwire.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ParamsRecord(std::uint32_t code, std::uint32_t fps, std::uint32_t bitRate, std::uint32_t profile) {
  Bytes r(112, 0);
  td_put_be32(r.data() + 0, 3);
  td_put_be32(r.data() + 4, code);
  td_put_be32(r.data() + 8, profile);
  td_put_be32(r.data() + 12, fps);
  td_put_be32(r.data() + 16, 1);
  td_put_be32(r.data() + 20, bitRate);
  td_put_be32(r.data() + 24, 1400);
  return r;
}

struct Packet {
  std::uint16_t seq;
  bool marker;
  int nalType;  // of the unit, also for FU-A pieces
  std::size_t size;
};

Packet Parse(const Frame& f) {
  const Bytes& p = f.payload;
  Packet k{static_cast<std::uint16_t>(p[2] << 8 | p[3]), (p[1] & 0x80) != 0, p[12] & 0x1F, p.size()};
  if (k.nalType == 28) k.nalType = p[13] & 0x1F;
  return k;
}

// The frames after a stop request hold the request, and no media after it.
::testing::AssertionResult StopEndsTheStream(const std::vector<Frame>& frames) {
  auto stop = std::find_if(frames.begin(), frames.end(),
                           [](const Frame& f) { return f.type == TDMSG_STOP_ENCODING_REQ; });
  if (stop == frames.end()) return ::testing::AssertionFailure() << "no stop request";
  auto media = std::count_if(stop, frames.end(), [](const Frame& f) { return f.type == TDMSG_MEDIA; });
  if (media) return ::testing::AssertionFailure() << media << " media messages after the stop request";
  return ::testing::AssertionSuccess();
}

class Streaming : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dev.listening());
    TDS_AttemptToPair(h, "127.0.10.30", &log, &EventLog::callback);
    ASSERT_TRUE(dev.accept());
    ASSERT_TRUE(dev.acceptPairing());
    ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED));
  }
  void TearDown() override { DestroyTDSdkHandle(h); }

  // Reads frames until a media packet arrives; other frames are kept.
  bool nextMedia(Packet& k, int timeoutMs = 3000) {
    Frame f;
    while (dev.readFrame(f, timeoutMs)) {
      if (f.type == TDMSG_MEDIA) {
        EXPECT_GE(f.payload.size(), 13u);
        EXPECT_EQ(f.payload[0], 0x80);
        EXPECT_EQ(f.payload[1] & 0x7F, 37);
        EXPECT_EQ(Bytes(f.payload.begin() + 4, f.payload.begin() + 12), Bytes(8, 0));
        k = Parse(f);
        return true;
      }
      control.push_back(f.type);
    }
    return false;
  }

  FakeDevice dev{"127.0.10.30"};
  TDSdkHandle h = CreateTDSdkHandle();
  EventLog log;
  std::vector<std::uint32_t> control;
};

// The descriptor of this process connected to peer:port, or -1.
int ConnectedTo(const char* peer, int port) {
  for (int fd = 0; fd < 1024; ++fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 && a.sin_family == AF_INET &&
        a.sin_addr.s_addr == inet_addr(peer) && ntohs(a.sin_port) == port) {
      return fd;
    }
  }
  return -1;
}

TEST_F(Streaming, SessionSocketSendsWithoutNagleDelay) {
  int fd = ConnectedTo("127.0.10.30", TD_DEVICE_PORT);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(plat::noDelay(fd));
}

TEST_F(Streaming, StartStreamUpdateAndStop) {
  // Before a start request nothing answers a stray acknowledgement of stop.
  ASSERT_TRUE(dev.sendFrame(TDMSG_STOP_ENCODING_ACK));
  TDS_ReqToStartEncoding(h);
  Frame f;
  ASSERT_TRUE(dev.readFrame(f));
  ASSERT_EQ(f.type, unsigned(TDMSG_START_ENCODING_REQ));
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, ParamsRecord(8, 10, 300000, 66)));
  ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_ENCODING));
  auto ev = log.events();
  ASSERT_GE(ev.size(), 4u);
  EXPECT_EQ(ev[2], std::make_pair(SELECT_THREAD_EVENT_START_ENC, 0));
  EXPECT_EQ(ev[3], std::make_pair(SELECT_THREAD_EVENT_H239STATUS_CHANGE, int(TDH239_ENCODING)));

  // The run starts with sequence number 1 and parameter sets before the IDR.
  Packet k{};
  ASSERT_TRUE(nextMedia(k, 5000));
  EXPECT_EQ(k.seq, 1);
  EXPECT_EQ(k.nalType, 7);
  std::uint16_t last = k.seq;
  std::set<int> types{k.nalType};
  // The rate is timed over ten whole periods: from the end of the first
  // picture to the end of the eleventh (10 fps asked; 15 would be wrong).
  int pictures = 0;
  std::int64_t t0 = 0;
  while (pictures < 11) {
    ASSERT_TRUE(nextMedia(k));
    EXPECT_EQ(k.seq, static_cast<std::uint16_t>(last + 1));
    last = k.seq;
    EXPECT_LE(k.size, 12u + 1200u + 100u);  // baseline: slice-limited units
    types.insert(k.nalType);
    pictures += k.marker;
    if (k.marker && pictures == 1) t0 = plat::monotonicUs();
  }
  double fps = 10 / ((plat::monotonicUs() - t0) / 1e6);
  EXPECT_GT(fps, 5.0);
  EXPECT_LT(fps, 13.0);
  EXPECT_TRUE(types.count(8) && types.count(5));

  // A fast-update request brings an IDR picture within a few packets.
  ASSERT_TRUE(dev.sendFrame(TDMSG_VFU_REQ));
  bool idr = false;
  for (int i = 0; i < 40 && !idr; ++i) {
    ASSERT_TRUE(nextMedia(k));
    idr = k.nalType == 5;
  }
  EXPECT_TRUE(idr);

  // A new record restarts the run: sequence numbers from 1, a new size.
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, ParamsRecord(0, 5, 100000, 100)));
  bool restarted = false;
  for (int i = 0; i < 400 && !restarted; ++i) {
    ASSERT_TRUE(nextMedia(k));
    restarted = k.seq == 1;
  }
  ASSERT_TRUE(restarted);
  EXPECT_EQ(k.nalType, 7);
  ev = log.events();
  EXPECT_EQ(std::count(ev.begin(), ev.end(), std::make_pair(SELECT_THREAD_EVENT_START_ENC, 0)), 1);

  // Stop: the stream ends with the request itself (no media follows it, not
  // even the rest of a picture), before the device has answered; the
  // acknowledgement then only reaps the codec thread.
  TDS_ReqToStopEncoding(h);
  std::vector<Frame> afterStop = dev.drain(600);
  EXPECT_TRUE(StopEndsTheStream(afterStop));
  ASSERT_TRUE(dev.sendFrame(TDMSG_STOP_ENCODING_ACK));
  ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_STOP_ENC, 0, 3000));
  std::vector<Frame> rest = dev.drain(600);
  ev = log.events();
  EXPECT_EQ(ev[ev.size() - 2], std::make_pair(SELECT_THREAD_EVENT_STOP_ENC, 0));
  EXPECT_EQ(ev.back(), std::make_pair(SELECT_THREAD_EVENT_H239STATUS_CHANGE, int(TDH239_AUTHORIZED)));
  int stops = static_cast<int>(std::count(control.begin(), control.end(), TDMSG_STOP_ENCODING_REQ));
  for (auto& r : afterStop) stops += r.type == TDMSG_STOP_ENCODING_REQ;
  for (auto& r : rest) stops += r.type == TDMSG_STOP_ENCODING_REQ;
  EXPECT_EQ(stops, 1);
  EXPECT_TRUE(rest.empty());
}

// The device never answers a stop: the stream has stopped all the same, and
// a later start is taken as a new stream (codec thread, start event).
TEST_F(Streaming, UnansweredStopStillStopsAndALaterStartWorks) {
  TDS_ReqToStartEncoding(h);
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, ParamsRecord(8, 15, 300000, 66)));
  Packet k{};
  ASSERT_TRUE(nextMedia(k, 5000));
  TDS_ReqToStopEncoding(h);
  std::vector<Frame> afterStop = dev.drain(500);
  EXPECT_TRUE(StopEndsTheStream(afterStop));

  TDS_ReqToStartEncoding(h);
  Frame f;
  ASSERT_TRUE(dev.readFrame(f));
  EXPECT_EQ(f.type, unsigned(TDMSG_START_ENCODING_REQ));
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, ParamsRecord(8, 15, 300000, 66)));
  // A new codec thread: its first packet starts the numbering again.
  ASSERT_TRUE(nextMedia(k, 5000));
  EXPECT_EQ(k.seq, 1);
  std::vector<std::pair<int, int>> ev = log.events();
  EXPECT_EQ(std::count(ev.begin(), ev.end(), std::make_pair(SELECT_THREAD_EVENT_START_ENC, 0)), 2);
}

TEST_F(Streaming, FrameRateZeroAndBitRateExtremesKeepStreaming) {
  TDS_ReqToStartEncoding(h);
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, ParamsRecord(8, 0, 200000, 66)));
  Packet k{};
  ASSERT_TRUE(nextMedia(k, 5000));
  for (std::uint32_t br : {0u, 10000000u, 64000u}) {
    Bytes b(4);
    td_put_be32(b.data(), br);
    ASSERT_TRUE(dev.sendFrame(TDMSG_UPDATE_ENC_BITRATE_INDIC, b));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(nextMedia(k)) << br;
  }
  // A short bit-rate message and a short record are tolerated.
  ASSERT_TRUE(dev.sendFrame(TDMSG_UPDATE_ENC_BITRATE_INDIC, {1, 2}));
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, {0, 0, 0, 3, 0, 0, 0, 8}));
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(nextMedia(k));
}

TEST_F(Streaming, DisconnectWhileStreamingStopsTheCodecThreadFirst) {
  TDS_ReqToStartEncoding(h);
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, ParamsRecord(8, 15, 300000, 66)));
  Packet k{};
  ASSERT_TRUE(nextMedia(k, 5000));
  std::int64_t t0 = plat::monotonicUs();
  TDS_Disconnect(h);
  EXPECT_LT(plat::monotonicUs() - t0, 2000000);
  // The last control frame before the close is the stop request.
  std::vector<Frame> rest = dev.drain(1000);
  std::uint32_t lastControl = 0;
  for (auto& r : rest)
    if (r.type != TDMSG_MEDIA) lastControl = r.type;
  EXPECT_EQ(lastControl, unsigned(TDMSG_STOP_ENCODING_REQ));
  EXPECT_TRUE(dev.waitClosed(1000));
}

TEST_F(Streaming, StartAcknowledgementBeforePairingStartsNothing) {
  EventLog fresh;
  TDS_Disconnect(h);
  dev.closeConnection();
  TDS_AttemptToPair(h, "127.0.10.30", &fresh, &EventLog::callback);
  ASSERT_TRUE(dev.accept());
  Frame f;
  ASSERT_TRUE(dev.readFrame(f));
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, ParamsRecord(8, 10, 300000, 66)));
  ASSERT_TRUE(dev.sendFrame(TDMSG_VFU_REQ));
  std::vector<Frame> rest = dev.drain(800);
  for (auto& r : rest) EXPECT_NE(r.type, unsigned(TDMSG_MEDIA));
  EXPECT_TRUE(fresh.events().empty());
}

}  // namespace
