// The reference device run in-process, driven by a raw client on the wire.
#include "device/device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/md5.h"
#include "device/media_sink.h"
#include "logged_device.h"
#include "raw_client.h"

namespace {

using devtest::RawClient;
using devtest::WireFrame;

std::vector<std::uint8_t> answer(const std::vector<std::uint8_t>& challenge, const std::string& password) {
  device::Md5 h;
  h.update(challenge.data(), challenge.size());
  h.update(password.data(), password.size());
  std::vector<std::uint8_t> d(device::kMd5Size);
  h.finish(d.data());
  return d;
}

class DeviceTest : public devtest::LoggedDeviceTest {
 protected:
  // Connects and sends the banner; the first message back is returned.
  WireFrame pairStep(RawClient& c, const char* address) {
    WireFrame f;
    EXPECT_TRUE(c.connect(address));
    EXPECT_TRUE(c.sendBanner());
    EXPECT_TRUE(c.nextMessage(&f, 2000));
    return f;
  }

};

TEST_F(DeviceTest, PairsWithoutPasswordAfterTheBanner) {
  auto& d = start("127.0.30.1");
  RawClient c;
  WireFrame f = pairStep(c, "127.0.30.1");
  EXPECT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
  EXPECT_TRUE(f.payload.empty());
  ASSERT_TRUE(d.waitFor([](const device::DeviceState& s) { return s.paired; }, 2000));
  device::DeviceState s = d.state();
  EXPECT_EQ(s.connectionsAccepted, 1);
  EXPECT_EQ(s.challengesSent, 0);
  EXPECT_EQ(s.protocolErrors, 0);
  ASSERT_EQ(s.messages.size(), 1u);
  EXPECT_EQ(s.messages[0].type, uint32_t(TDMSG_PAIR_BANNER));
  EXPECT_TRUE(logHas("got banner \"Tandeo V1.0\""));
}

TEST_F(DeviceTest, PasswordChallengeRightAndWrongAnswers) {
  device::DeviceOptions o;
  o.password = "s3cret";
  auto& d = start("127.0.30.2", o);

  RawClient c;
  WireFrame challenge = pairStep(c, "127.0.30.2");
  ASSERT_EQ(challenge.type, uint32_t(TDMSG_PASSWORD_CHALLENGE));
  ASSERT_EQ(challenge.payload.size(), 16u);
  ASSERT_TRUE(c.send(TDMSG_PASSWORD_DIGEST, answer(challenge.payload, "s3cret")));
  WireFrame f;
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  EXPECT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
  c.close();

  // A wrong answer: refused with reason 1, then the device closes.
  WireFrame second = pairStep(c, "127.0.30.2");
  ASSERT_EQ(second.type, uint32_t(TDMSG_PASSWORD_CHALLENGE));
  EXPECT_NE(second.payload, challenge.payload);  // a fresh challenge per connection
  ASSERT_TRUE(c.send(TDMSG_PASSWORD_DIGEST, answer(second.payload, "s3cre")));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  EXPECT_EQ(f.type, uint32_t(TDMSG_PAIR_REJECTED_1));
  EXPECT_TRUE(c.waitClosed(3000));
  c.close();

  // An answer of the wrong size is a wrong answer too.
  WireFrame third = pairStep(c, "127.0.30.2");
  auto digest = answer(third.payload, "s3cret");
  digest.pop_back();
  ASSERT_TRUE(c.send(TDMSG_PASSWORD_DIGEST, digest));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  EXPECT_EQ(f.type, uint32_t(TDMSG_PAIR_REJECTED_1));

  ASSERT_TRUE(d.waitFor([](const device::DeviceState& s) { return s.wrongAnswers == 2; }, 2000));
  device::DeviceState s = d.state();
  EXPECT_EQ(s.rightAnswers, 1);
  EXPECT_EQ(s.challengesSent, 3);
  EXPECT_EQ(s.protocolErrors, 1);  // the 15-byte answer
}

TEST_F(DeviceTest, EmptyPasswordDigestCoversTheChallengeAlone) {
  device::DeviceOptions o;
  o.password = "";
  start("127.0.30.3", o);
  RawClient c;
  WireFrame challenge = pairStep(c, "127.0.30.3");
  ASSERT_EQ(challenge.type, uint32_t(TDMSG_PASSWORD_CHALLENGE));
  std::uint8_t d[16];
  device::md5(challenge.payload.data(), 16, d);
  ASSERT_TRUE(c.send(TDMSG_PASSWORD_DIGEST, std::vector<std::uint8_t>(d, d + 16)));
  WireFrame f;
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  EXPECT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
}

TEST_F(DeviceTest, EachRejectReasonHasItsTypeAndNoChallenge) {
  const std::uint32_t types[] = {TDMSG_PAIR_REJECTED, TDMSG_PAIR_REJECTED_1, TDMSG_PAIR_REJECTED_2,
                                 TDMSG_PAIR_REJECTED_3};
  for (int reason = 0; reason < 4; ++reason) {
    SCOPED_TRACE(reason);
    device::DeviceOptions o;
    o.rejectReason = reason;
    o.password = "ignored";
    const std::string address = "127.0.30." + std::to_string(10 + reason);
    auto& d = start(address.c_str(), o);
    RawClient c;
    WireFrame f = pairStep(c, address.c_str());
    EXPECT_EQ(f.type, types[reason]);
    EXPECT_TRUE(f.payload.empty());
    EXPECT_TRUE(c.waitClosed(3000));
    EXPECT_EQ(d.state().challengesSent, 0);
    d.stop();
  }
}

TEST_F(DeviceTest, KeepAliveOnceASecondAndNoneWhenSilenced) {
  start("127.0.30.20");
  RawClient c;
  ASSERT_TRUE(c.connect("127.0.30.20"));
  const std::int64_t t0 = plat::monotonicUs();
  std::vector<std::int64_t> at;
  WireFrame f;
  while (plat::monotonicUs() - t0 < 3500000 && c.next(&f, 1500)) {
    if (f.type == TDMSG_KEEPALIVE) {
      EXPECT_TRUE(f.payload.empty());
      at.push_back(f.atUs);
    }
    c.send(TDMSG_KEEPALIVE);
  }
  // 1, 2 and 3 s after the connection; loose bounds for a loaded machine.
  ASSERT_GE(at.size(), 2u);
  ASSERT_LE(at.size(), 4u);
  for (std::size_t i = 1; i < at.size(); ++i) {
    EXPECT_GT(at[i] - at[i - 1], 600000);
    EXPECT_LT(at[i] - at[i - 1], 1600000);
  }
  c.close();
  device_->stop();

  device::DeviceOptions silent;
  silent.keepAliveMs = 0;
  start("127.0.30.21", silent);
  ASSERT_TRUE(c.connect("127.0.30.21"));
  ASSERT_TRUE(c.sendBanner());
  ASSERT_TRUE(c.next(&f, 2000));
  EXPECT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
  EXPECT_FALSE(c.next(&f, 1500));
  EXPECT_EQ(device_->state().keepAlivesSent, 0);
}

TEST_F(DeviceTest, StartRequestGetsTheRecordOfTheOptionsAndStopIsAcknowledgedOnce) {
  device::DeviceOptions o;
  o.encoding.mode = 5;
  o.encoding.resolutionCode = 28;
  o.encoding.profile = 66;
  o.encoding.frameRate = 30;
  o.encoding.bitRate = 4000000;
  o.encoding.maxPacketSize = 1200;
  o.password = "pw";
  auto& d = start("127.0.30.30", o);
  RawClient c;
  WireFrame f = pairStep(c, "127.0.30.30");
  ASSERT_EQ(f.type, uint32_t(TDMSG_PASSWORD_CHALLENGE));
  // Not paired yet: a start request is ignored.
  ASSERT_TRUE(c.send(TDMSG_START_ENCODING_REQ));
  WireFrame none;
  EXPECT_FALSE(c.nextMessage(&none, 300));
  ASSERT_TRUE(c.send(TDMSG_PASSWORD_DIGEST, answer(f.payload, "pw")));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  ASSERT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));

  ASSERT_TRUE(c.send(TDMSG_START_ENCODING_REQ));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  ASSERT_EQ(f.type, uint32_t(TDMSG_START_ENCODING_ACK));
  std::vector<std::uint8_t> want(112, 0);
  const std::uint8_t head[28] = {0, 0, 0, 5,  0, 0, 0,    28,   0, 0, 0, 66, 0, 0,
                                 0, 30, 0, 0, 0, 1, 0, 0x3D, 0x09, 0, 0, 0, 0x04, 0xB0};
  std::memcpy(want.data(), head, sizeof head);
  EXPECT_EQ(f.payload, want);
  ASSERT_TRUE(d.waitFor([](const device::DeviceState& s) { return s.streaming; }, 2000));

  ASSERT_TRUE(c.send(TDMSG_STOP_ENCODING_REQ));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  EXPECT_EQ(f.type, uint32_t(TDMSG_STOP_ENCODING_ACK));
  EXPECT_TRUE(f.payload.empty());
  // The sender repeats its stop request when it handles the acknowledgement;
  // the device does not acknowledge twice.
  ASSERT_TRUE(c.send(TDMSG_STOP_ENCODING_REQ));
  EXPECT_FALSE(c.nextMessage(&none, 300));
  EXPECT_FALSE(d.state().streaming);
  EXPECT_EQ(d.state().protocolErrors, 0);
}

TEST_F(DeviceTest, GarbageAndUnknownTypesAreLoggedAndTolerated) {
  auto& d = start("127.0.30.40");
  RawClient c;
  ASSERT_TRUE(c.connect("127.0.30.40"));
  // Before the banner, a keep-alive is fine; an unknown type is noted.
  ASSERT_TRUE(c.send(TDMSG_KEEPALIVE));
  ASSERT_TRUE(c.send(42, std::string("junk")));
  WireFrame f = pairStep(c, "127.0.30.40");  // reconnects: a fresh start
  ASSERT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
  std::vector<std::uint8_t> mixed;
  for (auto frame : {RawClient::frame(11), RawClient::frame(0xFFFFFFFFu, {1, 2, 3}),
                     RawClient::frame(TDMSG_PAIR_SUCCEED_INDIC), RawClient::frame(TDMSG_KEEPALIVE, {9}),
                     RawClient::frame(TDMSG_MEDIA, {0x80}), RawClient::frame(TDMSG_PAIR_BANNER, {'x'}),
                     RawClient::frame(TDMSG_START_ENCODING_REQ)})
    mixed.insert(mixed.end(), frame.begin(), frame.end());
  ASSERT_TRUE(c.sendBytes(mixed));
  // Still served: the start request at the end is answered.
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  EXPECT_EQ(f.type, uint32_t(TDMSG_START_ENCODING_ACK));
  device::DeviceState s = d.state();
  EXPECT_EQ(s.connectionsAccepted, 2);
  // Type 42 (unknown, and before the banner), types 11, 0xFFFFFFFF and 1,
  // the keep-alive payload, the short media message and the second banner.
  EXPECT_EQ(s.protocolErrors, 8);
  EXPECT_TRUE(logHas("got type 42, 4 payload bytes"));
  EXPECT_TRUE(logHas("got type 4294967295, 3 payload bytes"));
}

TEST_F(DeviceTest, HugeDeclaredLengthClosesTheConnectionAndTheNextOneIsServed) {
  auto& d = start("127.0.30.50");
  RawClient c;
  ASSERT_TRUE(c.connect("127.0.30.50"));
  ASSERT_TRUE(c.sendBanner());
  ASSERT_TRUE(c.sendBytes({0, 0, 0, 7, 0xFF, 0xFF, 0xFF, 0xF0, 1, 2, 3}));
  EXPECT_TRUE(c.waitClosed(2000));
  EXPECT_EQ(d.state().protocolErrors, 1);
  EXPECT_TRUE(logHas("declared payload length 4294967280 exceeds 65536"));

  // One byte over the largest frame a sender sends is refused as well; the
  // largest itself is taken.
  ASSERT_TRUE(c.connect("127.0.30.50"));
  ASSERT_TRUE(c.sendBanner());
  std::vector<std::uint8_t> big(65536, 0x11);
  big[0] = 0x80;
  ASSERT_TRUE(c.send(TDMSG_MEDIA, big));
  ASSERT_TRUE(c.sendBytes({0, 0, 0, 7, 0, 1, 0, 1}));
  EXPECT_TRUE(c.waitClosed(2000));
  ASSERT_TRUE(d.waitFor([](const device::DeviceState& s) { return s.connectionsEnded == 2; }, 2000));
  EXPECT_EQ(d.state().mediaReceived, 1u);
  EXPECT_EQ(d.state().mediaBytes, 65536u);

  WireFrame f = pairStep(c, "127.0.30.50");
  EXPECT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
}

TEST_F(DeviceTest, ServesOneConnectionAfterAnother) {
  auto& d = start("127.0.30.60");
  RawClient first, second;
  WireFrame f = pairStep(first, "127.0.30.60");
  ASSERT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
  // The second sender waits until the first has gone.
  ASSERT_TRUE(second.connect("127.0.30.60"));
  ASSERT_TRUE(second.sendBanner());
  EXPECT_FALSE(second.next(&f, 400));
  first.close();
  ASSERT_TRUE(second.nextMessage(&f, 2000));
  EXPECT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
  EXPECT_EQ(d.state().connectionsAccepted, 2);
  EXPECT_EQ(d.state().connectionsEnded, 1);
}

TEST_F(DeviceTest, PostedMessagesReachTheSenderAndCloseEndsTheConnection) {
  auto& d = start("127.0.30.70");
  EXPECT_FALSE(d.sendBitRate(1000));  // nobody connected
  RawClient c;
  WireFrame f = pairStep(c, "127.0.30.70");
  ASSERT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
  ASSERT_TRUE(d.sendBitRate(512000));
  ASSERT_TRUE(d.requestIntraPicture());
  device::EncodingRequest update;
  update.resolutionCode = 7;
  ASSERT_TRUE(d.sendEncodingParams(update));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  EXPECT_EQ(f.type, uint32_t(TDMSG_UPDATE_ENC_BITRATE_INDIC));
  EXPECT_EQ(f.payload, (std::vector<std::uint8_t>{0, 0x07, 0xD0, 0}));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  EXPECT_EQ(f.type, uint32_t(TDMSG_VFU_REQ));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  EXPECT_EQ(f.type, uint32_t(TDMSG_START_ENCODING_ACK));
  ASSERT_EQ(f.payload.size(), 112u);
  EXPECT_EQ(td_get_be32(f.payload.data() + 4), 7u);
  ASSERT_TRUE(d.closeConnection());
  EXPECT_TRUE(c.waitClosed(2000));
}

TEST_F(DeviceTest, SilentSenderIsDroppedAndStopEndsAnOpenConnectionPromptly) {
  device::DeviceOptions o;
  o.peerTimeoutMs = 300;
  auto& d = start("127.0.30.80", o);
  RawClient c;
  ASSERT_TRUE(c.connect("127.0.30.80"));
  EXPECT_TRUE(c.waitClosed(3000));
  EXPECT_TRUE(logHas("nothing from the sender"));

  WireFrame f = pairStep(c, "127.0.30.80");
  ASSERT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
  const std::int64_t t0 = plat::monotonicUs();
  d.stop();
  EXPECT_LT(plat::monotonicUs() - t0, 1000000);
  EXPECT_TRUE(c.waitClosed(1000));
  d.stop();  // twice is harmless
  RawClient late;
  EXPECT_FALSE(late.connect("127.0.30.80"));
}

TEST_F(DeviceTest, StartFailsClearlyOnABadOrBusyAddress) {
  start("127.0.30.90");
  device::DeviceOptions o;
  o.bindAddress = "127.0.30.90";
  o.log = [](const std::string&) {};
  device::Device second(o);
  std::string error;
  EXPECT_FALSE(second.start(&error));
  EXPECT_NE(error.find("127.0.30.90:5001"), std::string::npos) << error;
  o.bindAddress = "not-an-address";
  device::Device third(o);
  EXPECT_FALSE(third.start(&error));
  EXPECT_NE(error.find("not an IPv4 address"), std::string::npos) << error;
  device::Device never(o);
  never.stop();  // without start
}

class RecordingSink : public device::MediaSink {
 public:
  void streamStarted(const device::EncodingRequest& p) override {
    std::lock_guard<std::mutex> g(m);
    events.push_back("start " + std::to_string(p.resolutionCode));
  }
  void mediaPacket(const std::uint8_t* data, std::size_t length) override {
    std::lock_guard<std::mutex> g(m);
    events.push_back("packet " + std::to_string(length) + " " + std::to_string(data[1]));
  }
  void streamStopped() override {
    std::lock_guard<std::mutex> g(m);
    events.push_back("stop");
  }
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> g(m);
    return events;
  }
  std::mutex m;
  std::vector<std::string> events;
};

TEST_F(DeviceTest, MediaSinkSeesRunsAndPackets) {
  RecordingSink sink;
  device::DeviceOptions o;
  o.media = &sink;
  auto& d = start("127.0.30.100", o);
  RawClient c;
  WireFrame f = pairStep(c, "127.0.30.100");
  ASSERT_EQ(f.type, uint32_t(TDMSG_PAIR_SUCCEED_INDIC));
  ASSERT_TRUE(c.send(TDMSG_START_ENCODING_REQ));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  std::vector<std::uint8_t> rtp(20, 0);
  rtp[0] = 0x80;
  rtp[1] = 0xA5;
  ASSERT_TRUE(c.send(TDMSG_MEDIA, rtp));
  ASSERT_TRUE(c.send(TDMSG_STOP_ENCODING_REQ));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  // Media after the stop request is still taken, as the sender may send it.
  ASSERT_TRUE(c.send(TDMSG_MEDIA, rtp));
  ASSERT_TRUE(c.send(TDMSG_START_ENCODING_REQ));
  ASSERT_TRUE(c.nextMessage(&f, 2000));
  c.close();  // the connection ends while streaming
  ASSERT_TRUE(d.waitFor([](const device::DeviceState& s) { return s.connectionsEnded == 1; }, 2000));
  EXPECT_EQ(sink.take(), (std::vector<std::string>{"start 18", "packet 20 165", "stop",
                                                   "packet 20 165", "start 18", "stop"}));
  EXPECT_EQ(d.state().mediaReceived, 2u);
}

}  // namespace
