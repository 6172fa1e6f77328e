// Pairing through the exported interface against a scripted device.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "event_log.h"
#include "fake_device.h"
#include "md5.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "tdsdk.h"
#include "tdwire.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Events = std::vector<std::pair<int, int>>;

struct Session {
  TDSdkHandle h = CreateTDSdkHandle();
  EventLog log;
  ~Session() { DestroyTDSdkHandle(h); }
  void password(const char* text) {
    char buf[64] = {};
    std::strncpy(buf, text, 63);
    TDS_SetPassword(h, buf);
  }
  int pair(const char* address) { return TDS_AttemptToPair(h, address, &log, &EventLog::callback); }
};

Bytes Digest(const Bytes& challenge, const std::string& password) {
  Bytes input = challenge;
  input.insert(input.end(), password.begin(), password.end());
  Bytes d(16);
  tds::md5Digest(input.data(), input.size(), d.data());
  return d;
}

TEST(Pairing, WireBytesAndEventsOfASuccessfulPairingWithPassword) {
  FakeDevice dev("127.0.10.1");
  ASSERT_TRUE(dev.listening());
  Session s;
  s.password("pa55");
  int r = s.pair("127.0.10.1");
  EXPECT_TRUE(r == TDS_OK || r == TDS_PENDING) << r;
  ASSERT_TRUE(dev.accept());

  Bytes banner;
  ASSERT_TRUE(dev.readRaw(banner, 19));
  EXPECT_EQ(banner, (Bytes{0, 0, 0, 2, 0, 0, 0, 11, 'T', 'a', 'n', 'd', 'e', 'o', ' ', 'V', '1', '.', '0'}));
  // Keep-alives follow on every pass, exactly 8 bytes each.
  Bytes ka;
  ASSERT_TRUE(dev.readRaw(ka, 8));
  EXPECT_EQ(ka, (Bytes{0, 0, 0, 8, 0, 0, 0, 0}));

  Bytes challenge{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA};
  ASSERT_TRUE(dev.sendFrame(TDMSG_PASSWORD_CHALLENGE, challenge));
  Frame f;
  ASSERT_TRUE(dev.readFrame(f));
  EXPECT_EQ(f.type, unsigned(TDMSG_PASSWORD_DIGEST));
  EXPECT_EQ(f.payload, Digest(challenge, "pa55"));

  // A second challenge is answered again, over the new bytes.
  challenge[0] = 0x42;
  ASSERT_TRUE(dev.sendFrame(TDMSG_PASSWORD_CHALLENGE, challenge));
  ASSERT_TRUE(dev.readFrame(f));
  EXPECT_EQ(f.payload, Digest(challenge, "pa55"));

  ASSERT_TRUE(dev.sendFrame(TDMSG_PAIR_SUCCEED_INDIC));
  ASSERT_TRUE(s.log.waitFor(SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED));
  EXPECT_EQ(s.log.events(), (Events{{SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_OK},
                                    {SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED}}));

  // Requests go out as bare frames.
  TDS_ReqToStartEncoding(s.h);
  ASSERT_TRUE(dev.readFrame(f));
  EXPECT_EQ(f.type, unsigned(TDMSG_START_ENCODING_REQ));
  EXPECT_TRUE(f.payload.empty());
  TDS_ReqToStopEncoding(s.h);
  ASSERT_TRUE(dev.readFrame(f));
  EXPECT_EQ(f.type, unsigned(TDMSG_STOP_ENCODING_REQ));

  // Disconnect: no callback, the device sees the socket close.
  TDS_Disconnect(s.h);
  EXPECT_TRUE(dev.waitClosed(2000));
  EXPECT_EQ(s.log.events().size(), 2u);
  TDS_Disconnect(s.h);  // a second call returns at once
}

TEST(Pairing, EmptyPasswordDigestCoversTheChallengeAlone) {
  FakeDevice dev("127.0.10.2");
  Session s;
  s.pair("127.0.10.2");
  ASSERT_TRUE(dev.accept());
  Frame f;
  ASSERT_TRUE(dev.readFrame(f));
  Bytes challenge(16, 0x5A);
  ASSERT_TRUE(dev.sendFrame(TDMSG_PASSWORD_CHALLENGE, challenge));
  ASSERT_TRUE(dev.readFrame(f));
  EXPECT_EQ(f.payload, Digest(challenge, ""));
}

TEST(Pairing, EachRejectionIsReportedOnceWithItsReason) {
  const std::pair<std::uint32_t, int> cases[] = {{TDMSG_PAIR_REJECTED, 0}, {TDMSG_PAIR_REJECTED_1, 1},
                                                 {TDMSG_PAIR_REJECTED_2, 2}, {TDMSG_PAIR_REJECTED_3, 3}};
  FakeDevice dev("127.0.10.3");
  Session s;
  EXPECT_EQ(TDS_GetPairRejectedReason(s.h), 0);
  for (auto& c : cases) {
    EventLog log;
    TDS_Disconnect(s.h);
    TDS_AttemptToPair(s.h, "127.0.10.3", &log, &EventLog::callback);
    ASSERT_TRUE(dev.accept());
    Frame f;
    ASSERT_TRUE(dev.readFrame(f));
    ASSERT_TRUE(dev.sendFrame(c.first));
    ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_REJECTED));
    EXPECT_EQ(TDS_GetPairRejectedReason(s.h), c.second);
    // A later acceptance on the same connection changes the h239 status only.
    ASSERT_TRUE(dev.sendFrame(TDMSG_PAIR_SUCCEED_INDIC));
    ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED));
    EXPECT_EQ(log.events(), (Events{{SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_REJECTED},
                                    {SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED}}));
    TDS_Disconnect(s.h);
    dev.closeConnection();
  }
}

TEST(Pairing, DeviceThatClosesOrResetsEndsTheSessionAtOnce) {
  FakeDevice dev("127.0.10.4");
  Session s;
  for (bool reset : {false, true}) {
    EventLog log;
    TDS_Disconnect(s.h);
    TDS_AttemptToPair(s.h, "127.0.10.4", &log, &EventLog::callback);
    ASSERT_TRUE(dev.accept());
    ASSERT_TRUE(dev.acceptPairing());
    ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED));
    std::int64_t t0 = plat::monotonicUs();
    reset ? dev.resetConnection() : dev.closeConnection();
    ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE, 3000));
    // Well before the keep-alive limit of 7 to 8 seconds.
    EXPECT_LT(plat::monotonicUs() - t0, 3000000);
    auto ev = log.events();
    EXPECT_EQ(std::count(ev.begin(), ev.end(), std::make_pair(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE,
                                                              int(TDH239_CONNECTION_CLOSE))),
              1);
    TDS_Disconnect(s.h);  // the thread is done with this log before it goes
  }
}

TEST(Pairing, OverlongDeclaredLengthEndsTheConnection) {
  FakeDevice dev("127.0.10.5");
  Session s;
  s.pair("127.0.10.5");
  ASSERT_TRUE(dev.accept());
  ASSERT_TRUE(dev.acceptPairing());
  ASSERT_TRUE(s.log.waitFor(SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED));
  Bytes head(8);
  td_put_be32(head.data(), 42);
  td_put_be32(head.data() + 4, 0xFFFFFFF0u);
  ASSERT_TRUE(dev.sendRaw(head));
  EXPECT_TRUE(s.log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_CLOSE));
  EXPECT_TRUE(dev.waitClosed(2000));
}

TEST(Pairing, NewAttemptAfterARejectionKeepsItsOwnSocket) {
  FakeDevice dev("127.0.10.6");
  Session s;
  s.pair("127.0.10.6");
  ASSERT_TRUE(dev.accept());
  Frame f;
  ASSERT_TRUE(dev.readFrame(f));
  ASSERT_TRUE(dev.sendFrame(TDMSG_PAIR_REJECTED_1));
  ASSERT_TRUE(s.log.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_REJECTED));

  // The device hangs up after rejecting; the caller tries again at once
  // without TDS_Disconnect. The new attempt must pair normally.
  std::thread closer([&] {
    plat::sleepMs(300);
    dev.closeConnection();
  });
  EventLog second;
  TDS_AttemptToPair(s.h, "127.0.10.6", &second, &EventLog::callback);
  closer.join();
  ASSERT_TRUE(dev.accept());
  ASSERT_TRUE(dev.acceptPairing());
  ASSERT_TRUE(second.waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_OK));
  // Still alive a while later: keep-alives keep arriving.
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(dev.sendFrame(TDMSG_KEEPALIVE));
    Bytes ka;
    ASSERT_TRUE(dev.readRaw(ka, 8));
  }
  EXPECT_EQ(second.events().front(), std::make_pair(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, int(TDH239_CONNECTION_OK)));
}

TEST(Lifecycle, DisconnectAndDestroyInEveryPhaseReturnPromptly) {
  DestroyTDSdkHandle(nullptr);
  {  // never attempted
    Session s;
    TDS_Disconnect(s.h);
    TDS_Disconnect(s.h);
    TDS_ReqToStartEncoding(s.h);  // no socket: nothing sent, no crash
  }
  {  // destroyed while connecting to an address where nothing listens
    Session s;
    s.pair("127.0.10.7");
  }
  {  // disconnected while connecting
    Session s;
    s.pair("127.0.10.7");
    std::int64_t t0 = plat::monotonicUs();
    TDS_Disconnect(s.h);
    EXPECT_LT(plat::monotonicUs() - t0, 1000000);
    EXPECT_TRUE(s.log.events().empty());
  }
  FakeDevice dev("127.0.10.8");
  {  // destroyed while connected, before pairing
    Session s;
    s.pair("127.0.10.8");
    ASSERT_TRUE(dev.accept());
    Frame f;
    ASSERT_TRUE(dev.readFrame(f));
  }
  EXPECT_TRUE(dev.waitClosed(2000));
  {  // destroyed while paired
    Session s;
    s.pair("127.0.10.8");
    ASSERT_TRUE(dev.accept());
    ASSERT_TRUE(dev.acceptPairing());
    ASSERT_TRUE(s.log.waitFor(SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED));
  }
  EXPECT_TRUE(dev.waitClosed(2000));
}

TEST(Lifecycle, RequestsAreSafeFromInsideTheCallback) {
  FakeDevice dev("127.0.10.9");
  struct Ctx {
    TDSdkHandle h;
    EventLog log;
  } ctx{CreateTDSdkHandle(), {}};
  auto cb = [](void* p, int event, int value) {
    auto* c = static_cast<Ctx*>(p);
    if (event == SELECT_THREAD_EVENT_CONNSTATUS_CHANGE && value == TDH239_CONNECTION_OK) {
      TDS_ReqToStartEncoding(c->h);
      TDS_GetPairRejectedReason(c->h);
    }
    c->log.add(event, value);
  };
  TDS_AttemptToPair(ctx.h, "127.0.10.9", &ctx, cb);
  ASSERT_TRUE(dev.accept());
  ASSERT_TRUE(dev.acceptPairing());
  Frame f;
  ASSERT_TRUE(dev.readFrame(f));
  EXPECT_EQ(f.type, unsigned(TDMSG_START_ENCODING_REQ));
  DestroyTDSdkHandle(ctx.h);
}

}  // namespace
