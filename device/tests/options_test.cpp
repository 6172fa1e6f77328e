#include "device/options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "device/encoding_request.h"
#include "device/resolution.h"

namespace {

device::ParseOutcome parse(std::initializer_list<const char*> args, device::DeviceOptions* o,
                           std::string* error) {
  std::vector<char*> argv{const_cast<char*>("tandeo-device")};
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  return device::parseDeviceOptions(static_cast<int>(argv.size()), argv.data(), o, error);
}

TEST(DeviceOptions, ValuesReachTheRecord) {
  device::DeviceOptions o;
  std::string error;
  ASSERT_EQ(parse({"--bind", "127.0.30.9", "--password", "pw", "--size", "1920x1080", "--fps", "30",
                   "--bitrate", "3M", "--profile", "baseline", "--mode", "5", "--no-keepalive"},
                  &o, &error),
            device::ParseOutcome::Run)
      << error;
  EXPECT_EQ(o.bindAddress, "127.0.30.9");
  EXPECT_EQ(o.password.value_or("?"), "pw");
  EXPECT_FALSE(o.rejectReason.has_value());
  EXPECT_EQ(o.encoding.resolutionCode, 28u);
  EXPECT_EQ(o.encoding.frameRate, 30u);
  EXPECT_EQ(o.encoding.frameRateDivisor, 2u);  // 30 / 2 stays within the sender's 15 a divisor
  EXPECT_EQ(o.encoding.bitRate, 3000000u);
  EXPECT_EQ(o.encoding.profile, 66u);
  EXPECT_EQ(o.encoding.mode, 5u);
  EXPECT_EQ(o.keepAliveMs, 0);

  device::DeviceOptions p;
  ASSERT_EQ(parse({"--resolution", "45", "--bitrate", "704k", "--reject", "3", "--password", ""}, &p,
                  &error),
            device::ParseOutcome::Run);
  EXPECT_EQ(p.encoding.resolutionCode, 45u);
  EXPECT_EQ(p.encoding.bitRate, 704000u);
  EXPECT_EQ(p.rejectReason.value_or(-1), 3);
  EXPECT_EQ(p.password.value_or("?"), "");  // an empty password is still a challenge
}

TEST(DeviceOptions, BadInputIsNamed) {
  const std::vector<std::vector<const char*>> bad = {
      {"--reject", "4"},         {"--resolution", "46"}, {"--size", "1000x1000"},
      {"--size", "wide"},        {"--fps", "0"},         {"--mode", "8"},
      {"--bitrate", "-5"},       {"--profile", "fast"},  {"--frobnicate"},
      {"--bind"},                {"--resolution", "3", "--size", "640x480"},
      {"--fps", "91"},           {"--record", ""},       {"--idr-every", "0"},
      {"--idr-every", "-1"},     {"--stop-at", "soon"},  {"--bitrate-at", "5"},
      {"--bitrate-at", "5:fast"}, {"--bitrate-at", "-1:1M"}, {"--params-at", "2:size=1000x1000"},
      {"--params-at", "2:colour=red"}, {"--params-at", "2:"}, {"--params-at", "2:fps=30,"},
      {"--params-at", "2:fps"},  {"--settle", "-3"},
      {"--password", "0123456789012345678901234567890123456789012345678901234567890123"}};
  for (const auto& args : bad) {
    device::DeviceOptions o;
    std::string error;
    std::vector<char*> argv{const_cast<char*>("tandeo-device")};
    for (const char* a : args) argv.push_back(const_cast<char*>(a));
    EXPECT_EQ(device::parseDeviceOptions(static_cast<int>(argv.size()), argv.data(), &o, &error),
              device::ParseOutcome::Error)
        << args[0];
    EXPECT_FALSE(error.empty());
  }
  device::DeviceOptions o;
  std::string error;
  EXPECT_EQ(parse({"--help"}, &o, &error), device::ParseOutcome::Help);
}

TEST(DeviceOptions, FrameRateDivisorKeepsTheRateInForce) {
  // The sender caps rate / divisor at 15: the divisor is the least that
  // passes the rate through.
  const std::pair<const char*, std::uint32_t> cases[] = {{"1", 1}, {"15", 1}, {"16", 2}, {"30", 2},
                                                         {"31", 3}, {"60", 4}, {"90", 6}};
  for (const auto& c : cases) {
    device::DeviceOptions o;
    std::string error;
    ASSERT_EQ(parse({"--fps", c.first}, &o, &error), device::ParseOutcome::Run) << error;
    EXPECT_EQ(o.encoding.frameRateDivisor, c.second) << c.first;
    EXPECT_LE(o.encoding.frameRate / o.encoding.frameRateDivisor, 15u) << c.first;
  }
}

TEST(DeviceOptions, MediaAndScriptOptions) {
  device::DeviceOptions o;
  std::string error;
  ASSERT_EQ(parse({"--record", "out.h264", "--display", "--stamps", "--idr-every", "2.5", "--bitrate-at",
                   "3:500k", "--bitrate-at", "1:2M", "--params-at", "4:size=640x360,fps=30,profile=baseline",
                   "--params-at", "6:resolution=28,bitrate=4M,mode=5", "--stop-at", "10", "--settle", "7.5"},
                  &o, &error),
            device::ParseOutcome::Run)
      << error;
  EXPECT_EQ(o.recordPath, "out.h264");
  EXPECT_TRUE(o.display);
  EXPECT_TRUE(o.readStamps);
  EXPECT_DOUBLE_EQ(o.script.idrEverySeconds, 2.5);
  ASSERT_EQ(o.script.bitRates.size(), 2u);
  EXPECT_DOUBLE_EQ(o.script.bitRates[0].atSeconds, 3);
  EXPECT_EQ(o.script.bitRates[0].bitsPerSecond, 500000u);
  EXPECT_EQ(o.script.bitRates[1].bitsPerSecond, 2000000u);
  ASSERT_EQ(o.script.params.size(), 2u);
  EXPECT_DOUBLE_EQ(o.script.params[0].atSeconds, 4);
  using KV = std::pair<std::string, std::string>;
  EXPECT_EQ(o.script.params[0].settings,
            (std::vector<KV>{{"size", "640x360"}, {"fps", "30"}, {"profile", "baseline"}}));
  EXPECT_EQ(o.script.params[1].settings.size(), 3u);
  EXPECT_DOUBLE_EQ(o.script.stopAtSeconds.value_or(-1), 10);
  EXPECT_DOUBLE_EQ(o.settleSeconds, 7.5);
  // Defaults: nothing recorded, shown or scripted.
  device::DeviceOptions d;
  ASSERT_EQ(parse({}, &d, &error), device::ParseOutcome::Run);
  EXPECT_TRUE(d.recordPath.empty());
  EXPECT_FALSE(d.display || d.readStamps);
  EXPECT_TRUE(d.script.empty());
}

// The first of the two codes for 1280x720 is the one --size picks; a short
// record reads as zeros beyond its end instead of past it.
TEST(EncodingRecord, SizeLookupAndShortRecords) {
  EXPECT_EQ(device::resolutionCode(1280, 720), 18);
  EXPECT_EQ(device::resolutionCode(1000, 1000), -1);
  int w = 1, h = 1;
  EXPECT_FALSE(device::resolutionSize(46, &w, &h));
  EXPECT_EQ(w + h, 0);

  device::EncodingRequest r;
  r.mode = 7;
  r.resolutionCode = 31;
  device::ParamsRecord rec;
  device::buildParamsRecord(r, rec);
  device::EncodingRequest shortRec = device::parseParamsRecord(rec, 10);
  EXPECT_EQ(shortRec.mode, 7u);
  EXPECT_EQ(shortRec.resolutionCode, 31u);
  EXPECT_EQ(shortRec.profile, 0u);
  EXPECT_EQ(shortRec.maxPacketSize, 0u);
}

}  // namespace
