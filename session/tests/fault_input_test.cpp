// Bad input from the device: messages the session does not expect, payloads
// of odd lengths, declared lengths the receive buffer cannot hold, and a
// flood of keep-alives. Nothing may crash, nothing may be allocated from a
// length before it is checked, and the session either stays usable or ends
// once, as lost. Figures: events per repeated message, resident memory
// after an impossible length, the sender's CPU during the flood.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "fault_support.h"
#include "platform/clock.h"
#include "tdwire.h"

namespace {

using Bytes = std::vector<unsigned char>;
using fault::CountEvents;

class BadInput : public ::testing::Test {
 protected:
  void TearDown() override { DestroyTDSdkHandle(h); }

  // Streams until n pictures have decoded cleanly.
  void ExpectDecodableStream(FakeDevice& dev, std::size_t n) {
    fault::MediaReceiver rx;
    ASSERT_TRUE(fault::ReceivePictures(dev, rx, n)) << rx.decoded().size() << " pictures";
    EXPECT_TRUE(rx.errors().empty()) << rx.errors().front();
  }

  TDSdkHandle h = CreateTDSdkHandle();
  EventLog log;
};

TEST_F(BadInput, UnknownTypesAndOddLengthsLeaveTheSessionUsable) {
  const char* address = "127.0.82.10";
  FakeDevice dev(address);
  fault::PairWith(h, dev, address, log);
  ASSERT_FALSE(HasFatalFailure());
  const std::size_t eventsPaired = log.events().size();

  // Types without a handler, and types only this side sends, with payloads
  // of 0, 1 and 100 bytes; then the handled types with too short payloads
  // (a challenge of 0 or 1 byte is still answered).
  for (std::uint32_t type : {2u, 4u, 5u, 7u, 9u, 11u, 12u, 14u, 19u, 1000u, 0xFFFFFFFFu}) {
    for (std::size_t n : {0u, 1u, 100u}) ASSERT_TRUE(dev.sendFrame(type, Bytes(n, 0xA5)));
  }
  for (std::uint32_t type : {3u, 10u, 13u, 15u}) {
    for (std::size_t n : {0u, 1u}) ASSERT_TRUE(dev.sendFrame(type, Bytes(n, 0x5A)));
  }
  // The largest frame the receive buffer holds: skipped whole.
  ASSERT_TRUE(dev.sendFrame(TDMSG_MEDIA, Bytes(524288 - TD_FRAME_HEADER_SIZE, 0x11)));
  ASSERT_TRUE(dev.sendFrame(TDMSG_KEEPALIVE));
  std::vector<Frame> answers = dev.drain(800);
  int digests = 0;
  for (auto& a : answers) digests += a.type == TDMSG_PASSWORD_DIGEST;
  EXPECT_EQ(digests, 2);
  EXPECT_EQ(log.events().size(), eventsPaired) << "no status changed";

  // Still usable: a start with a record of 0 bytes (every field 0: the
  // smallest size, frame rate 0), then an update of 1 byte, then a real one.
  TDS_ReqToStartEncoding(h);
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, Bytes()));
  ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_START_ENC, 0));
  ExpectDecodableStream(dev, 2);
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, Bytes(1, 0x7F)));
  ASSERT_TRUE(dev.sendFrame(TDMSG_UPDATE_ENC_BITRATE_INDIC, Bytes(1, 0x7F)));
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, fault::ParamsRecord(8, 15, 1, 300000, 100)));
  // Whatever the first runs sent, a run at 320x240 follows and decodes.
  auto rx = std::make_unique<fault::MediaReceiver>();
  Frame f;
  while (rx->decoded().empty() || rx->decoded().back().width != 320) {
    ASSERT_TRUE(fault::NextMedia(dev, f, 5000));
    std::uint16_t seq = static_cast<std::uint16_t>(f.payload[2] << 8 | f.payload[3]);
    if (seq == 1) rx = std::make_unique<fault::MediaReceiver>();  // a new run
    ASSERT_TRUE(rx->take(f));
  }
  EXPECT_TRUE(rx->errors().empty()) << rx->errors().front();
  EXPECT_EQ(CountEvents(log, SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE), 0);
}

TEST_F(BadInput, PairingMessagesOutOfOrderOrRepeated) {
  const char* address = "127.0.82.11";
  FakeDevice dev(address);
  TDS_AttemptToPair(h, address, &log, &EventLog::callback);
  ASSERT_TRUE(dev.accept());
  Frame banner;
  ASSERT_TRUE(dev.readFrame(banner));

  // A parameter record before pairing starts nothing.
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, fault::ParamsRecord(8, 15, 1, 300000, 66)));
  for (auto& r : dev.drain(500)) EXPECT_NE(r.type, unsigned(TDMSG_MEDIA));
  EXPECT_TRUE(log.events().empty());

  // The same challenge 1000 times: 1000 answers, all the same; a new
  // challenge gets a new answer.
  Bytes challenge(TD_CHALLENGE_SIZE);
  for (std::size_t i = 0; i < challenge.size(); ++i) challenge[i] = static_cast<unsigned char>(i * 37 + 1);
  Bytes burst;
  for (int i = 0; i < 1000; ++i) {
    Bytes one = FakeDevice::frameBytes(TDMSG_PASSWORD_CHALLENGE, challenge);
    burst.insert(burst.end(), one.begin(), one.end());
  }
  ASSERT_TRUE(dev.sendRaw(burst));
  Bytes first;
  int answers = 0;
  Frame f;
  while (answers < 1000 && dev.readFrame(f, 3000)) {
    ASSERT_EQ(f.type, unsigned(TDMSG_PASSWORD_DIGEST));
    ASSERT_EQ(f.payload.size(), std::size_t{TD_DIGEST_SIZE});
    if (answers++ == 0) first = f.payload;
    EXPECT_EQ(f.payload, first);
  }
  std::printf("challenge sent 1000 times: %d answers\n", answers);
  EXPECT_EQ(answers, 1000);
  challenge[0] ^= 1;
  ASSERT_TRUE(dev.sendFrame(TDMSG_PASSWORD_CHALLENGE, challenge));
  ASSERT_TRUE(dev.readFrame(f));
  EXPECT_NE(f.payload, first);

  // Fifty acceptances: one connection event and one status event.
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(dev.sendFrame(TDMSG_PAIR_SUCCEED_INDIC));
  ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED));
  dev.drain(300);
  std::printf("acceptance sent 50 times: %zu events\n", log.events().size());
  EXPECT_EQ(log.events(), (std::vector<std::pair<int, int>>{
                              {SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_OK},
                              {SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED}}));

  // And the session streams.
  TDS_ReqToStartEncoding(h);
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, fault::ParamsRecord(8, 15, 1, 300000, 66)));
  ExpectDecodableStream(dev, 3);
}

// Declared lengths that no buffer of the session can hold end the
// connection as lost, once, without the memory to hold them ever being
// taken; the next pairing works.
TEST_F(BadInput, LengthsBeyondTheReceiveBufferEndTheConnectionOnce) {
  const char* address = "127.0.82.12";
  FakeDevice dev(address);
  const int threads = fault::ThreadBaseline();
  for (std::uint32_t length : {524288u, 0xFFFFFFFFu}) {
    SCOPED_TRACE("declared length " + std::to_string(length));
    EventLog attempt;
    fault::DisconnectAtEnd disconnect(h);
    fault::PairWith(h, dev, address, attempt);
    ASSERT_FALSE(HasFatalFailure());
    const long rssBefore = fault::RssKiB();
    Bytes head(TD_FRAME_HEADER_SIZE);
    td_put_be32(head.data(), TDMSG_PASSWORD_CHALLENGE);
    td_put_be32(head.data() + 4, length);
    head.resize(head.size() + 4096, 0x33);  // and some of the promised bytes
    ASSERT_TRUE(dev.sendRaw(head));
    EXPECT_TRUE(attempt.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE, 3000));
    EXPECT_TRUE(dev.waitClosed(3000));
    const long grown = fault::RssKiB() - rssBefore;
    std::printf("declared length %u: connection closed, resident memory grew %ld KiB\n", length, grown);
    EXPECT_LT(grown, 4096);
    EXPECT_TRUE(fault::WaitUntil([&] { return fault::ThreadCount() == threads; }, 3000));
    EXPECT_EQ(CountEvents(attempt, SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE), 1);
    TDS_Disconnect(h);
    dev.closeConnection();
  }
  EventLog again;
  fault::DisconnectAtEnd disconnect(h);
  fault::PairWith(h, dev, address, again);
}

// 10,000 keep-alives a second for 5 s from a device in another process, so
// that the CPU time of this process is the sender's alone.
TEST_F(BadInput, KeepAliveFloodIsCheapAndTheSessionStaysUsable) {
  const char* address = "127.0.82.13";
  fault::PeerProcess peer;
  ASSERT_TRUE(peer.start({"flood", address, "10000", "5"}));
  TDS_AttemptToPair(h, address, &log, &EventLog::callback);
  ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED));
  std::string line;
  ASSERT_TRUE(peer.readLine(line, 5000));
  ASSERT_EQ(line, "flood-start");
  const double cpu0 = fault::ProcessCpuSeconds();
  const std::int64_t t0 = plat::monotonicUs();
  ASSERT_TRUE(peer.readLine(line, 15000));
  const double cpu = fault::ProcessCpuSeconds() - cpu0;
  const double wall = (plat::monotonicUs() - t0) / 1e6;
  long frames = 0;
  ASSERT_EQ(std::sscanf(line.c_str(), "flood-done %ld", &frames), 1) << line;
  std::printf("keep-alive flood: %ld frames in %.2f s (%.0f/s), sender CPU %.3f s = %.1f%% of one core\n", frames,
              wall, frames / wall, cpu, 100.0 * cpu / wall);
  EXPECT_GE(frames, 50000);
  // A sender that spun on the flood would use a whole core.
  EXPECT_LT(cpu / wall, 0.5);
  EXPECT_EQ(CountEvents(log, SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE), 0);

  // Still usable: the peer answers a start and exits 0 after ten media packets.
  TDS_ReqToStartEncoding(h);
  EXPECT_TRUE(log.waitFor(SELECT_THREAD_EVENT_START_ENC, 0, 5000));
  EXPECT_EQ(peer.wait(15000), 0);
}

}  // namespace
