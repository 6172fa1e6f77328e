// Scripted events against a clock of the test's own: what fires when, in
// what order, and again for the next stream.
#include "device/event_script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Recorded : device::ScriptActions {
  std::vector<std::string> what;
  std::vector<device::EncodingRequest> params;
  void scriptIntraRequest() override { what.push_back("idr"); }
  void scriptBitRate(std::uint32_t bps) override { what.push_back("br " + std::to_string(bps)); }
  void scriptParams(const device::EncodingRequest& p) override {
    what.push_back("params");
    params.push_back(p);
  }
  void scriptStop() override { what.push_back("stop"); }
  void scriptLog(const std::string& line) override { log.push_back(line); }
  std::vector<std::string> log;
};

constexpr std::int64_t kS = 1000000;

TEST(EventScript, FiresEachEventOnceInTimeOrderPerStream) {
  device::ScriptedEvents e;
  e.idrEverySeconds = 1;
  e.bitRates = {{2.5, 800000}, {0.5, 300000}};
  e.params = {{1.5, {{"size", "640x360"}, {"fps", "30"}}}, {3, {{"bitrate", "1M"}}}};
  e.stopAtSeconds = 3.5;
  device::EventScript script(e);
  Recorded r;
  device::EncodingRequest start;
  start.resolutionCode = 18;
  start.bitRate = 2000000;

  script.poll(0, r);  // no stream yet
  EXPECT_TRUE(r.what.empty());
  const std::int64_t t0 = 100 * kS;
  script.streamStarted(t0, start);
  for (std::int64_t t = t0; t <= t0 + 5 * kS; t += kS / 50) script.poll(t, r);
  EXPECT_EQ(r.what, (std::vector<std::string>{"br 300000", "idr", "params", "idr", "br 800000", "idr",
                                              "params", "stop"}));
  ASSERT_EQ(r.params.size(), 2u);
  EXPECT_EQ(r.params[0].resolutionCode, 30u);
  EXPECT_EQ(r.params[0].frameRate, 30u);
  EXPECT_EQ(r.params[0].frameRateDivisor, 2u);
  EXPECT_EQ(r.params[0].bitRate, 2000000u);
  // The second update builds on the first.
  EXPECT_EQ(r.params[1].resolutionCode, 30u);
  EXPECT_EQ(r.params[1].bitRate, 1000000u);
  EXPECT_EQ(r.log.size(), r.what.size());
  EXPECT_NE(r.log.back().find("script: stop at 3.5 s"), std::string::npos);

  // A new stream runs the script again from its own start; a long stall
  // folds missed intra requests into one.
  r.what.clear();
  script.streamStarted(t0 + 10 * kS, start);
  script.poll(t0 + 10 * kS + 2600000, r);
  EXPECT_EQ(r.what, (std::vector<std::string>{"idr", "br 300000", "br 800000", "params"}));
}

TEST(EventScript, BadSettingsAreLoggedNotSent) {
  device::ScriptedEvents e;
  e.params = {{0, {{"size", "1000x1000"}}}};
  device::EventScript script(e);
  Recorded r;
  script.streamStarted(0, {});
  script.poll(1, r);
  EXPECT_TRUE(r.what.empty());
  ASSERT_EQ(r.log.size(), 1u);
  EXPECT_NE(r.log[0].find("not sent"), std::string::npos);
  // After the stream stops nothing more fires.
  device::ScriptedEvents s;
  s.stopAtSeconds = 1;
  device::EventScript stopping(s);
  stopping.streamStarted(0, {});
  stopping.streamStopped();
  stopping.poll(5 * kS, r);
  EXPECT_TRUE(r.what.empty());
}

}  // namespace
