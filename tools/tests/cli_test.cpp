// The headless sender against the in-process reference device, through the
// real session library.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "cli_options.h"
#include "cli_run.h"
#include "device/device.h"
#include "platform/net.h"
#include "tdwire.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

std::string readAll(std::FILE* f) {
  std::string s;
  std::rewind(f);
  char buf[512];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

Outcome run(const cli::CliOptions& o, const std::atomic<bool>& interrupted, std::FILE* out = nullptr) {
  if (!out) out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  int status = cli::runCli(o, out, err, interrupted);
  return Outcome{status, readAll(out), readAll(err)};
}

// Waits until the file at `path` holds `text`: the run has printed that line.
bool waitForOutput(const std::string& path, const std::string& text, int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < until) {
    if (std::FILE* f = std::fopen(path.c_str(), "r")) {
      if (readAll(f).find(text) != std::string::npos) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

Outcome run(const cli::CliOptions& o) {
  std::atomic<bool> never{false};
  return run(o, never);
}

device::DeviceOptions quietDevice(const char* address) {
  device::DeviceOptions d;
  d.bindAddress = address;
  d.log = [](const std::string&) {};
  return d;
}

cli::CliOptions cliFor(const char* address, const char* password = "", double duration = 0.3) {
  cli::CliOptions o;
  o.address = address;
  o.password = password;
  o.durationSeconds = duration;
  return o;
}

TEST(Cli, PairsAndEndsNormallyAfterTheDuration) {
  device::DeviceOptions d = quietDevice("127.0.32.1");
  d.password = "x";
  device::Device dev(d);
  ASSERT_TRUE(dev.start());
  Outcome r = run(cliFor("127.0.32.1", "x"));
  EXPECT_EQ(r.status, cli::kExitPairedAndEnded) << r.out << r.err;
  EXPECT_NE(r.out.find("paired with 127.0.32.1\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("stream"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("status: authorized\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("disconnected\n"), std::string::npos) << r.out;
  ASSERT_TRUE(dev.waitFor([](const device::DeviceState& s) { return s.connectionsEnded == 1; }, 3000));
  device::DeviceState s = dev.state();
  EXPECT_EQ(s.rightAnswers, 1);
  EXPECT_EQ(s.protocolErrors, 0);
  EXPECT_GT(s.keepAlivesReceived, 0u);
}

TEST(Cli, WrongPasswordAndRejectionsExitTwoWithTheReason) {
  device::DeviceOptions d = quietDevice("127.0.32.2");
  d.password = "right";
  {
    device::Device dev(d);
    ASSERT_TRUE(dev.start());
    Outcome r = run(cliFor("127.0.32.2", "wrong"));
    EXPECT_EQ(r.status, cli::kExitRejected) << r.out << r.err;
    EXPECT_NE(r.out.find("rejected by the device, reason 1\n"), std::string::npos) << r.out;
  }
  d.rejectReason = 3;
  device::Device dev(d);
  ASSERT_TRUE(dev.start());
  Outcome r = run(cliFor("127.0.32.2", "right"));
  EXPECT_EQ(r.status, cli::kExitRejected) << r.out << r.err;
  EXPECT_NE(r.out.find("reason 3\n"), std::string::npos) << r.out;
}

TEST(Cli, NothingListeningExitsThreeAfterTheConnectLimit) {
  const auto t0 = std::chrono::steady_clock::now();
  Outcome r = run(cliFor("127.0.32.3"));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(r.status, cli::kExitConnectTimeout) << r.out << r.err;
  EXPECT_NE(r.out.find("connect time-out"), std::string::npos) << r.out;
  EXPECT_GE(seconds, 4.5);
  EXPECT_LE(seconds, 8.0);
}

TEST(Cli, DeviceClosingExitsFour) {
  device::Device dev(quietDevice("127.0.32.4"));
  ASSERT_TRUE(dev.start());
  std::atomic<bool> never{false};
  auto pending = std::async(std::launch::async, [&] { return run(cliFor("127.0.32.4", "", -1), never); });
  ASSERT_TRUE(dev.waitFor([](const device::DeviceState& s) { return s.paired; }, 3000));
  ASSERT_TRUE(dev.closeConnection());
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  Outcome r = pending.get();
  EXPECT_EQ(r.status, cli::kExitConnectionLost) << r.out << r.err;
  EXPECT_NE(r.out.find("connection lost\n"), std::string::npos) << r.out;
}

TEST(Cli, InterruptEndsTheRun) {
  device::Device dev(quietDevice("127.0.32.5"));
  ASSERT_TRUE(dev.start());
  std::atomic<bool> stop{false};
  const std::string path = ::testing::TempDir() + "cli_interrupt_out.txt";
  std::FILE* out = std::fopen(path.c_str(), "w+");
  ASSERT_NE(out, nullptr);
  auto pending =
      std::async(std::launch::async, [&] { return run(cliFor("127.0.32.5", "", -1), stop, out); });
  // Interrupted once the run itself knows it is paired.
  const bool paired = waitForOutput(path, "paired with", 3000);
  stop = true;
  ASSERT_TRUE(paired);
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  Outcome r = pending.get();
  EXPECT_EQ(r.status, cli::kExitPairedAndEnded) << r.out << r.err;
  EXPECT_NE(r.out.find("disconnected\n"), std::string::npos) << r.out;
  std::remove(path.c_str());

  // Interrupted while the device has not decided yet: not a normal end.
  device::DeviceOptions busy = quietDevice("127.0.32.6");
  busy.password = "p";
  device::Device undecided(busy);
  ASSERT_TRUE(undecided.start());
  std::atomic<bool> stop2{true};
  r = run(cliFor("127.0.32.6", "", -1), stop2);
  EXPECT_EQ(r.status, cli::kExitError) << r.out << r.err;
  EXPECT_NE(r.err.find("interrupted before pairing"), std::string::npos) << r.err;
}

// The lines of a run's output that contain `text`, in order.
std::size_t countOf(const std::string& out, const std::string& text) {
  std::size_t n = 0;
  for (std::size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
  return n;
}

// Starts a sharing run without a duration on its own thread; returns once the
// device receives media from it.
std::future<Outcome> shareUntilStreaming(device::Device& dev, const char* address, const std::atomic<bool>& stop) {
  cli::CliOptions o = cliFor(address, "", -1);
  o.share = true;
  auto pending = std::async(std::launch::async, [o, &stop] { return run(o, stop); });
  EXPECT_TRUE(dev.waitFor([](const device::DeviceState& s) { return s.streaming && s.mediaReceived > 0; }, 5000));
  return pending;
}

TEST(CliShare, StreamsForTheDurationThenStopsAndDisconnects) {
  device::Device dev(quietDevice("127.0.32.7"));
  ASSERT_TRUE(dev.start());
  cli::CliOptions o = cliFor("127.0.32.7", "", 1.5);
  o.share = true;
  const auto t0 = std::chrono::steady_clock::now();
  Outcome r = run(o);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(r.status, cli::kExitPairedAndEnded) << r.out << r.err;
  for (const char* line : {"requesting the stream\n", "stream started", "status: encoding\n", "stopping the stream\n",
                           "stream stopped after 1.", "disconnected\n"}) {
    EXPECT_EQ(countOf(r.out, line), 1u) << line << " in\n" << r.out;
  }
  EXPECT_LT(r.out.find("stream started"), r.out.find("stopping the stream")) << r.out;
  EXPECT_GE(seconds, 1.5);
  EXPECT_LT(seconds, 5.0);

  ASSERT_TRUE(dev.waitFor([](const device::DeviceState& s) { return s.connectionsEnded == 1; }, 3000));
  device::DeviceState s = dev.state();
  EXPECT_EQ(s.ofType(TDMSG_START_ENCODING_REQ).size(), 1u);
  // The request only: the stream had stopped before the acknowledgement.
  EXPECT_EQ(s.ofType(TDMSG_STOP_ENCODING_REQ).size(), 1u);
  EXPECT_GT(s.mediaReceived, 5u);  // the codec thread streamed
  EXPECT_FALSE(s.streaming);
  EXPECT_EQ(s.protocolErrors, 0);
}

TEST(CliShare, WithoutADisplayTheStreamStillRuns) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  device::Device dev(quietDevice("127.0.32.8"));
  ASSERT_TRUE(dev.start());
  cli::CliOptions o = cliFor("127.0.32.8", "", 1.5);
  o.share = true;
  Outcome r = run(o);
  if (display) setenv("DISPLAY", saved.c_str(), 1);
  EXPECT_EQ(r.status, cli::kExitPairedAndEnded) << r.out << r.err;
  EXPECT_NE(r.out.find("no X display: the stream will carry a still black picture\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("stream stopped after"), std::string::npos) << r.out;
  EXPECT_GT(dev.state().mediaReceived, 0u);
}

TEST(CliShare, DeviceStoppingTheStreamEndsTheRunNormally) {
  device::Device dev(quietDevice("127.0.32.9"));
  ASSERT_TRUE(dev.start());
  std::atomic<bool> never{false};
  auto pending = shareUntilStreaming(dev, "127.0.32.9", never);
  ASSERT_TRUE(dev.sendStopAck());
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  Outcome r = pending.get();
  EXPECT_EQ(r.status, cli::kExitPairedAndEnded) << r.out << r.err;
  EXPECT_NE(r.out.find("the device stopped the stream after"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("stopping the stream"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("disconnected\n"), std::string::npos) << r.out;
}

TEST(CliShare, ConnectionLostWhileStreamingExitsFour) {
  device::Device dev(quietDevice("127.0.32.10"));
  ASSERT_TRUE(dev.start());
  std::atomic<bool> never{false};
  auto pending = shareUntilStreaming(dev, "127.0.32.10", never);
  ASSERT_TRUE(dev.closeConnection());
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  Outcome r = pending.get();
  EXPECT_EQ(r.status, cli::kExitConnectionLost) << r.out << r.err;
  EXPECT_NE(r.out.find("stream ended after"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("connection lost\n"), std::string::npos) << r.out;
}

TEST(CliShare, InterruptWhileStreamingStopsTheStreamFirst) {
  device::Device dev(quietDevice("127.0.32.11"));
  ASSERT_TRUE(dev.start());
  std::atomic<bool> stop{false};
  auto pending = shareUntilStreaming(dev, "127.0.32.11", stop);
  stop = true;
  ASSERT_EQ(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  Outcome r = pending.get();
  EXPECT_EQ(r.status, cli::kExitPairedAndEnded) << r.out << r.err;
  EXPECT_LT(r.out.find("interrupted\n"), r.out.find("stopping the stream\n")) << r.out;
  EXPECT_NE(r.out.find("stream stopped after"), std::string::npos) << r.out;
  EXPECT_GE(dev.state().ofType(TDMSG_STOP_ENCODING_REQ).size(), 1u);
}

// A device that pairs every sender and then only listens: it never answers
// a start request. Serves one connection on its own thread.
class SilentDevice {
 public:
  explicit SilentDevice(const char* address) : listener_(plat::listenTcp(address, 5001)) {
    if (listener_ != plat::kInvalidSocket) thread_ = std::thread([this] { serve(); });
  }
  ~SilentDevice() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    plat::closeSocket(listener_);
  }
  bool ok() const { return listener_ != plat::kInvalidSocket; }

 private:
  void serve() {
    plat::Socket c = plat::kInvalidSocket;
    while (!stop_ && c == plat::kInvalidSocket) c = plat::acceptConnection(listener_, 100000);
    if (c == plat::kInvalidSocket) return;
    unsigned char pairSucceed[TD_FRAME_HEADER_SIZE];
    td_put_be32(pairSucceed, TDMSG_PAIR_SUCCEED_INDIC);
    td_put_be32(pairSucceed + 4, 0);
    plat::sendSome(c, pairSucceed, sizeof pairSucceed);
    char buf[4096];
    while (!stop_) {
      const int ready = plat::waitReadable(c, 100000);
      if (ready < 0 || (ready > 0 && plat::recvSome(c, buf, sizeof buf) <= 0)) break;
    }
    plat::closeSocket(c);
  }

  plat::Socket listener_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(CliShare, AStreamThatNeverStartsIsAnError) {
  SilentDevice dev("127.0.32.12");
  ASSERT_TRUE(dev.ok());
  cli::CliOptions o = cliFor("127.0.32.12", "", 1.0);
  o.share = true;
  Outcome r = run(o);
  EXPECT_EQ(r.status, cli::kExitError) << r.out << r.err;
  EXPECT_NE(r.out.find("requesting the stream\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("the device never answered the start request"), std::string::npos) << r.err;
}

TEST(CliOptions, ParsesAndNamesBadInput) {
  auto parse = [](std::vector<const char*> args, cli::CliOptions* o, std::string* error) {
    std::vector<char*> argv{const_cast<char*>("tandeo-cli")};
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    return cli::parseCliOptions(static_cast<int>(argv.size()), argv.data(), o, error);
  };
  cli::CliOptions o;
  std::string error;
  ASSERT_EQ(parse({"127.0.0.5", "--password", "x", "--duration", "2.5", "--share"}, &o, &error),
            cli::CliParse::Run)
      << error;
  EXPECT_EQ(o.address, "127.0.0.5");
  EXPECT_EQ(o.password, "x");
  EXPECT_DOUBLE_EQ(o.durationSeconds, 2.5);
  EXPECT_TRUE(o.share);

  for (std::vector<const char*> bad :
       {std::vector<const char*>{}, {"localhost"}, {"1.2.3"}, {"1.2.3.4.5"}, {"256.1.1.1"},
        {"01.2.3.4"}, {"1.2.3.4", "5.6.7.8"}, {"1.2.3.4", "--duration", "-1"},
        {"1.2.3.4", "--duration", "soon"}, {"1.2.3.4", "--password"}, {"1.2.3.4", "--loud"},
        {"1.2.3.4", "--password", "0123456789012345678901234567890123456789012345678901234567890123"}}) {
    cli::CliOptions p;
    error.clear();
    EXPECT_EQ(parse(bad, &p, &error), cli::CliParse::Error) << (bad.empty() ? "(none)" : bad[0]);
    EXPECT_FALSE(error.empty());
  }
  EXPECT_TRUE(cli::isDottedIPv4("0.0.0.0"));
  EXPECT_TRUE(cli::isDottedIPv4("255.255.255.255"));
  EXPECT_FALSE(cli::isDottedIPv4("1.2.3.4 "));
}

}  // namespace
