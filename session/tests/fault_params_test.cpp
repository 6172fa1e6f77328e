// Twenty parameter records in a row while streaming, alternating picture
// sizes, profiles and frame rates (0 among them). Figure checked: of the 20
// runs, how many started afresh (sequence number 1, parameter sets, an IDR
// picture) and decoded on their own at the new size.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>

#include "fault_support.h"
#include "media/resolution_table.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "tdwire.h"

namespace {

struct Change {
  std::uint32_t code, fps, divisor, profile;
};

// A session paired with a fake device and streaming from a first record.
// Members end in reverse: the connection before the log it reports to.
struct StreamingSession {
  explicit StreamingSession(const char* address) : address(address), dev(address) {}
  void start(const std::vector<unsigned char>& record) {
    fault::CaptureWholeScreen(session.h);
    fault::PairWith(session.h, dev, address, log);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    fault::StartEncoding(session.h, dev, log, record);
  }
  const char* address;
  FakeDevice dev;
  fault::OwnedSession session;
  EventLog log;
  fault::DisconnectAtEnd disconnect{session.h};
};

TEST(ParameterChanges, TwentyInARowEachDecodableAtItsNewSize) {
  StreamingSession s("127.0.83.10");
  s.start(fault::ParamsRecord(8, 15, 1, 300000, 66));
  ASSERT_FALSE(HasFatalFailure());
  FakeDevice& dev = s.dev;
  EventLog& log = s.log;

  // Sizes from 128x96 to 640x480, rates 15, 0, 10, 30 (over a divisor of 2), 0.
  const Change kChanges[] = {{2, 15, 1, 66},  {0, 0, 1, 100},  {29, 10, 1, 66}, {7, 30, 2, 100}, {13, 0, 0, 66},
                             {8, 15, 1, 100}, {39, 0, 1, 66},  {6, 10, 1, 100}, {30, 30, 2, 66}, {1, 0, 1, 100}};
  int fresh = 0;
  for (int i = 0; i < 20; ++i) {
    const Change& c = kChanges[i % 10];
    std::int32_t width = 0, height = 0;
    ASSERT_EQ(GetResolution(static_cast<std::int32_t>(c.code), &width, &height), 0);
    SCOPED_TRACE("change " + std::to_string(i) + ": " + std::to_string(width) + "x" + std::to_string(height) +
                 " at " + std::to_string(c.fps) + "/" + std::to_string(c.divisor) + " profile " +
                 std::to_string(c.profile));
    ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, fault::ParamsRecord(c.code, c.fps, c.divisor, 500000, c.profile)));

    // Packets of the run that was under way may still come; the new run
    // starts at sequence number 1.
    Frame f;
    ASSERT_TRUE(fault::NextRunStart(dev, f));
    // A decoder of its own: the run must decode without what came before.
    fault::MediaReceiver rx;
    rx.take(f);
    ASSERT_TRUE(fault::ReceivePictures(dev, rx, 2));
    EXPECT_EQ(rx.firstNalType(), TD_NAL_TYPE_SPS);
    EXPECT_TRUE(rx.decoded()[0].key);
    EXPECT_TRUE(rx.errors().empty()) << rx.errors().front();
    bool sized = true;
    for (const DecodedPicture& p : rx.decoded()) sized = sized && p.width == width && p.height == height;
    EXPECT_TRUE(sized) << rx.decoded()[0].width << "x" << rx.decoded()[0].height;
    fresh += rx.firstNalType() == TD_NAL_TYPE_SPS && rx.decoded()[0].key && rx.errors().empty() && sized;
  }
  std::printf("parameter changes: %d of 20 runs began with an IDR at the new size and decoded cleanly\n", fresh);
  EXPECT_EQ(fresh, 20);
  EXPECT_EQ(fault::CountEvents(log, SELECT_THREAD_EVENT_START_ENC, 0), 1);
  EXPECT_EQ(fault::CountEvents(log, SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE), 0);
}

// Frame-rate changes sent at random moments of a run's period: each new run
// ticks at the rate of its own record, never at the one before.
TEST(ParameterChanges, EachRunTicksAtTheRateOfItsRecord) {
  StreamingSession s("127.0.83.11");
  s.start(fault::ParamsRecord(0, 10, 1, 200000, 66));
  ASSERT_FALSE(HasFatalFailure());
  FakeDevice& dev = s.dev;

  std::mt19937 random(std::random_device{}());
  const std::uint32_t kRates[] = {25, 8, 20, 6, 30, 12};
  std::uint32_t previous = 10;
  int matched = 0, runs = 0;
  for (int i = 0; i < 12; ++i) {
    const std::uint32_t fps = kRates[i % 6];
    // Somewhere inside the period of the run under way.
    int delayUs = std::uniform_int_distribution<int>(0, static_cast<int>(1000000 / previous))(random);
    plat::sleepMs(delayUs / 1000);
    // A divisor of 2 lets rates up to 30 through the 15-per-divisor limit.
    ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, fault::ParamsRecord(0, fps, 2, 200000, 66)));
    Frame f;
    ASSERT_TRUE(fault::NextRunStart(dev, f));
    // Ends of pictures: the rate is timed over six whole periods, from the
    // second picture on (the first may answer a tick left over from the run
    // before).
    std::int64_t first = 0, last = 0;
    int ends = 0;
    while (ends < 8) {
      if ((f.payload[1] & TD_RTP_MARKER) != 0) {
        last = plat::monotonicUs();
        if (++ends == 2) first = last;
      }
      if (ends < 8) {
        ASSERT_TRUE(fault::NextMedia(dev, f));
      }
    }
    double measured = 6 / ((last - first) / 1e6);
    // Near its own rate, and nearer to it than to the rate before (which is
    // what a run left at the old period shows); room for a late picture
    // under the sanitizers' slowdown.
    bool ok = std::fabs(measured - fps) <= 0.35 * fps && std::fabs(measured - fps) < std::fabs(measured - previous);
    std::printf("rate change %d: %u -> %u fps (after %d ms), measured %.1f\n", i, previous, fps, delayUs / 1000,
                measured);
    EXPECT_TRUE(ok) << "asked " << fps << ", measured " << measured << ", previous " << previous;
    matched += ok;
    ++runs;
    previous = fps;
  }
  std::printf("rate changes: %d of %d runs ticked at their own record's rate\n", matched, runs);
}

}  // namespace
