// Streams that start and stop, and connections that end while streaming,
// leave no thread, descriptor or memory behind (the sanitizer builds run
// this program too: memory is theirs to check).
#include <gtest/gtest.h>

#include <memory>

#include "device/device.h"
#include "e2e_support.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "test_x_server.h"

namespace {

// A small screen and a small, slow stream, so that sanitizer builds keep up.
constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 360;
constexpr int kCode640x360 = 30;

class E2eLifecycle : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new plat_test::TestXServer;
    ASSERT_TRUE(server_->Start("640x360x24")) << server_->error();
    setenv("DISPLAY", server_->display().c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void startDevice(const char* address) {
    address_ = address;
    device::DeviceOptions o;
    o.bindAddress = address;
    o.log = [](const std::string&) {};
    o.encoding.resolutionCode = kCode640x360;
    o.encoding.profile = 66;
    device::setFrameRate(15, &o.encoding);
    o.encoding.bitRate = 1000000;
    device_ = std::make_unique<device::Device>(o);
    std::string error;
    ASSERT_TRUE(device_->start(&error)) << error;
  }

  std::unique_ptr<e2e::Sender> pairedSender() {
    auto s = std::make_unique<e2e::Sender>();
    s->shareArea(kScreenWidth, kScreenHeight);
    EXPECT_TRUE(s->pair(address_));
    return s;
  }

  // Waits until the device has decoded `more` pictures beyond what it had.
  bool decodesMore(std::uint64_t more, int timeoutMs = 5000) {
    const std::uint64_t target = device_->streamStats().decoded + more;
    const std::int64_t until = plat::monotonicUs() + std::int64_t{timeoutMs} * 1000;
    while (device_->streamStats().decoded < target) {
      if (plat::monotonicUs() > until) return false;
      plat::sleepMs(10);
    }
    return true;
  }

  bool connectionsEnded(int n) {
    return device_->waitFor([n](const device::DeviceState& s) { return s.connectionsEnded >= n && !s.connected; },
                            10000);
  }

  // One whole share, so that what the process sets up once (the X and
  // codec libraries' own state, the log handler) is in place before the
  // counts are taken.
  void warmUp() {
    {
      auto s = pairedSender();
      ASSERT_TRUE(s->startStream());
      ASSERT_TRUE(decodesMore(3));
      ASSERT_TRUE(s->stopStream());
    }
    ASSERT_TRUE(connectionsEnded(1));
  }

  void expectNothingLeft(int threads, int descriptors) {
    EXPECT_EQ(e2e::threadCount(), threads);
    EXPECT_EQ(e2e::openDescriptors(), descriptors);
    const device::StreamStats stats = device_->streamStats();
    EXPECT_EQ(stats.decodeErrors, 0u);
    EXPECT_EQ(stats.sequenceGaps, 0u);
  }

  static plat_test::TestXServer* server_;
  std::string address_;
  std::unique_ptr<device::Device> device_;
};
plat_test::TestXServer* E2eLifecycle::server_ = nullptr;

TEST_F(E2eLifecycle, FiveStartStopCyclesAndADisconnectWhileStreamingLeaveNothingBehind) {
  startDevice("127.0.70.10");
  warmUp();
  const int threads = e2e::threadCount(), descriptors = e2e::openDescriptors();
  const std::uint64_t idrBefore = device_->streamStats().idrPictures;
  {
    auto s = pairedSender();
    for (int cycle = 0; cycle < 5; ++cycle) {
      ASSERT_TRUE(s->startStream()) << "cycle " << cycle;
      ASSERT_TRUE(decodesMore(3)) << "cycle " << cycle;
      ASSERT_TRUE(s->stopStream()) << "cycle " << cycle;
      // The codec thread is gone: once the device has read what was on
      // the way, nothing more arrives.
      plat::sleepMs(150);
      const std::uint64_t media = device_->state().mediaReceived;
      plat::sleepMs(300);
      EXPECT_EQ(device_->state().mediaReceived, media) << "cycle " << cycle;
    }
    ASSERT_TRUE(s->startStream());
    ASSERT_TRUE(decodesMore(3));
    s->disconnect();  // while streaming
  }
  ASSERT_TRUE(connectionsEnded(2));
  expectNothingLeft(threads, descriptors);
  // Every stream began with an IDR picture.
  EXPECT_GE(device_->streamStats().idrPictures - idrBefore, 6u);
}

TEST_F(E2eLifecycle, DeviceEndingTheConnectionWhileStreamingLeavesNothingBehind) {
  startDevice("127.0.70.11");
  warmUp();
  const int threads = e2e::threadCount(), descriptors = e2e::openDescriptors();
  {
    auto s = pairedSender();
    ASSERT_TRUE(s->startStream());
    ASSERT_TRUE(decodesMore(3));
    ASSERT_TRUE(device_->closeConnection());
    EXPECT_TRUE(s->waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE, 10000));
  }
  ASSERT_TRUE(connectionsEnded(2));
  expectNothingLeft(threads, descriptors);
}

}  // namespace
