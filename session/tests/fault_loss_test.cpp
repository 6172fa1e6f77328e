// A device that dies, resets or closes in the middle of a stream: the loss
// is reported once, no SIGPIPE ends the sender, every thread ends, and the
// next pairing succeeds. Figure checked: successful re-pairings out of 10.
#include <gtest/gtest.h>
#include <signal.h>

#include "fault_support.h"
#include "tdwire.h"

namespace {

using fault::CountEvents;

// SIGPIPE keeps its default action here (killing the process), so a send
// on a dead connection without MSG_NOSIGNAL would end the test.
TEST(DeviceLoss, SigpipeKeepsItsDefaultAction) {
  struct sigaction now {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

// The device process is killed while media flows; a new device process on
// the same address pairs again, 10 times in a row.
TEST(DeviceLoss, KilledDeviceProcessIsReportedOnceAndTheNextPairingSucceeds) {
  const char* address = "127.0.80.10";
  TDSdkHandle h = CreateTDSdkHandle();
  const int threads = fault::ThreadBaseline();
  int paired = 0;
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    fault::PeerProcess peer;
    ASSERT_TRUE(peer.start({"stream", address}));
    EventLog log;
    fault::DisconnectAtEnd disconnect(h);
    TDS_AttemptToPair(h, address, &log, &EventLog::callback);
    ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED));
    TDS_ReqToStartEncoding(h);
    ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_START_ENC, 0));
    std::string line;
    ASSERT_TRUE(peer.readLine(line, 5000));
    ASSERT_EQ(line, "media");
    ++paired;

    peer.kill();
    EXPECT_TRUE(log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE, 3000));
    // Session thread and codec thread end on their own.
    EXPECT_TRUE(fault::WaitUntil([&] { return fault::ThreadCount() == threads; }, 3000))
        << fault::ThreadCount() << " threads, " << threads << " before";
    EXPECT_EQ(CountEvents(log, SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE), 1);
    EXPECT_EQ(CountEvents(log, SELECT_THREAD_EVENT_STOP_ENC, 0), 0);
  }
  std::printf("killed device: %d of 10 pairings to a restarted device streamed\n", paired);
  EXPECT_EQ(paired, 10);
  DestroyTDSdkHandle(h);
  EXPECT_EQ(fault::ThreadCount(), threads);
}

enum class Cut {
  ResetWhileReadingAFrame,  // RST after half a media frame was read
  ResetWhileSendingAFrame,  // RST after half a parameter record was sent
  CloseBetweenFrames,       // an orderly close after a whole media frame
};

const char* Name(Cut c) {
  switch (c) {
    case Cut::ResetWhileReadingAFrame: return "reset while reading a frame";
    case Cut::ResetWhileSendingAFrame: return "reset while sending a frame";
    case Cut::CloseBetweenFrames: return "close between frames";
  }
  return "";
}

TEST(DeviceLoss, ResetOrCloseMidStreamIsReportedOnceAndTheNextPairingSucceeds) {
  const char* address = "127.0.80.11";
  FakeDevice dev(address);
  TDSdkHandle h = CreateTDSdkHandle();
  const int threads = fault::ThreadBaseline();
  int paired = 0;
  for (int round = 0; round < 10; ++round) {
    Cut cut = static_cast<Cut>(round % 3);
    SCOPED_TRACE(std::string("round ") + std::to_string(round) + ": " + Name(cut));
    EventLog log;
    fault::DisconnectAtEnd disconnect(h);
    fault::PairWith(h, dev, address, log);
    ASSERT_FALSE(HasFatalFailure());
    fault::StartEncoding(h, dev, log, fault::ParamsRecord(2, 15, 1, 400000, round % 2 ? 100 : 66));
    ASSERT_FALSE(HasFatalFailure());
    Frame f;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(fault::NextMedia(dev, f, 5000));
    ++paired;

    switch (cut) {
      case Cut::ResetWhileReadingAFrame: {
        std::vector<unsigned char> head, half;
        // Skip to the start of the next media frame, then take half of it.
        for (;;) {
          ASSERT_TRUE(dev.readRaw(head, TD_FRAME_HEADER_SIZE));
          std::uint32_t length = td_get_be32(head.data() + 4);
          if (td_get_be32(head.data()) == TDMSG_MEDIA && length >= 2) {
            ASSERT_TRUE(dev.readRaw(half, length / 2));
            break;
          }
          ASSERT_TRUE(dev.readRaw(half, length));
        }
        dev.resetConnection();
        break;
      }
      case Cut::ResetWhileSendingAFrame: {
        std::vector<unsigned char> record =
            FakeDevice::frameBytes(TDMSG_START_ENCODING_ACK, fault::ParamsRecord(8, 10, 1, 300000, 66));
        record.resize(TD_FRAME_HEADER_SIZE + TD_ENC_PARAMS_WIRE_SIZE / 2);
        ASSERT_TRUE(dev.sendRaw(record));
        dev.resetConnection();
        break;
      }
      case Cut::CloseBetweenFrames:
        ASSERT_TRUE(fault::NextMedia(dev, f));
        dev.closeConnection();
        break;
    }

    EXPECT_TRUE(log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE, 3000));
    EXPECT_TRUE(fault::WaitUntil([&] { return fault::ThreadCount() == threads; }, 3000))
        << fault::ThreadCount() << " threads, " << threads << " before";
    EXPECT_EQ(CountEvents(log, SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE), 1);
  }
  std::printf("reset/close mid-stream: %d of 10 pairings after the previous loss streamed\n", paired);
  EXPECT_EQ(paired, 10);
  DestroyTDSdkHandle(h);
}

}  // namespace
