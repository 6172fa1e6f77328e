// Frame reassembly and dispatch, fed directly with byte chunks.
#include <gtest/gtest.h>

#include <QStringList>
#include <algorithm>
#include <cstring>
#include <vector>

#include "encoding_params_parser.h"
#include "fake_device.h"
#include "h239_info.h"
#include "handlers.h"
#include "md5.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct Dispatch : ::testing::Test {
  CH239Info session;
  CallbackTarget target{nullptr, nullptr};
  bool feed(const Bytes& b) { return OnRecvData(target, session, b.data(), b.size()); }
};

TEST_F(Dispatch, FrameSplitAcrossChunksIsHandledWhenItsLastByteArrives) {
  Bytes accept = FakeDevice::frameBytes(TDMSG_PAIR_SUCCEED_INDIC, {1, 2, 3});
  for (std::size_t i = 0; i + 1 < accept.size(); ++i) {
    ASSERT_TRUE(feed({accept[i]}));
    EXPECT_EQ(session.connStatus_, TDH239_CONNECTION_NONE) << "handled early at byte " << i;
  }
  ASSERT_TRUE(feed({accept.back()}));
  EXPECT_EQ(session.connStatus_, TDH239_CONNECTION_OK);
  EXPECT_EQ(session.h239Status(), TDH239_AUTHORIZED);
  EXPECT_EQ(session.recvBuffer_.fill(), 0u);
}

TEST_F(Dispatch, ManyFramesInOneChunkAreHandledInOrder) {
  session.kpaCount_ = 5;
  // Rejection with reason 2, then acceptance, then a keep-alive, then half a frame.
  Bytes half = FakeDevice::frameBytes(TDMSG_PAIR_REJECTED_3);
  half.resize(5);
  ASSERT_TRUE(feed(Join({FakeDevice::frameBytes(TDMSG_PAIR_REJECTED_2), FakeDevice::frameBytes(TDMSG_PAIR_SUCCEED_INDIC),
                         FakeDevice::frameBytes(TDMSG_KEEPALIVE), half})));
  EXPECT_EQ(session.rejectedReason_, 2);
  EXPECT_EQ(session.connStatus_, TDH239_CONNECTION_OK);
  EXPECT_EQ(session.kpaCount_, 0);
  EXPECT_EQ(session.recvBuffer_.fill(), 5u);
  ASSERT_TRUE(feed({0, 0, 0}));
  EXPECT_EQ(session.rejectedReason_, 3);
  EXPECT_EQ(session.connStatus_, TDH239_CONNECTION_REJECTED);
}

TEST_F(Dispatch, EachRejectionTypeGivesItsReason) {
  const std::pair<std::uint32_t, int> cases[] = {{TDMSG_PAIR_REJECTED_1, 1}, {TDMSG_PAIR_REJECTED, 0},
                                                 {TDMSG_PAIR_REJECTED_3, 3}, {TDMSG_PAIR_REJECTED_2, 2}};
  for (auto& c : cases) {
    ASSERT_TRUE(feed(FakeDevice::frameBytes(c.first)));
    EXPECT_EQ(session.rejectedReason_, c.second);
    EXPECT_EQ(session.connStatus_, TDH239_CONNECTION_REJECTED);
    EXPECT_EQ(session.h239Status(), TDH239_IDLE);
  }
}

TEST_F(Dispatch, UnknownTypesAndMediaAreSkippedWithTheirPayload) {
  ASSERT_TRUE(feed(Join({FakeDevice::frameBytes(99, Bytes(300, 0xAB)), FakeDevice::frameBytes(TDMSG_MEDIA, Bytes(70, 1)),
                         FakeDevice::frameBytes(TDMSG_PAIR_BANNER, {'x'}), FakeDevice::frameBytes(TDMSG_PAIR_SUCCEED_INDIC)})));
  EXPECT_EQ(session.connStatus_, TDH239_CONNECTION_OK);
  EXPECT_EQ(session.recvBuffer_.fill(), 0u);
}

TEST_F(Dispatch, LengthThatCanNeverFitIsRefusedWithoutOverrun) {
  // The largest frame that fits is handled...
  Bytes big = FakeDevice::frameBytes(42, Bytes(RecvBuffer::kCapacity - 8, 7));
  for (std::size_t off = 0; off < big.size(); off += 32768) {
    Bytes chunk(big.begin() + off, big.begin() + std::min(big.size(), off + 32768));
    ASSERT_TRUE(feed(chunk));
  }
  EXPECT_EQ(session.recvBuffer_.fill(), 0u);
  // ...one byte more is refused as soon as its header is in.
  Bytes head(8);
  td_put_be32(head.data(), 42);
  td_put_be32(head.data() + 4, RecvBuffer::kCapacity - 7);
  EXPECT_FALSE(feed(head));
  td_put_be32(head.data() + 4, 0xFFFFFFFFu);
  EXPECT_FALSE(feed(head));
}

TEST_F(Dispatch, ChallengeAnswerCoversChallengeAndPasswordOnly) {
  std::strcpy(session.password_, "secret");
  Bytes challenge(16);
  for (int i = 0; i < 16; ++i) challenge[i] = static_cast<unsigned char>(0xF0 + i);
  ASSERT_TRUE(feed(FakeDevice::frameBytes(TDMSG_PASSWORD_CHALLENGE, challenge)));
  Bytes input = challenge;
  input.insert(input.end(), {'s', 'e', 'c', 'r', 'e', 't'});
  std::uint8_t expected[16];
  tds::md5Digest(input.data(), input.size(), expected);
  EXPECT_EQ(0, std::memcmp(session.digest_, expected, 16));

  // A password of 64 characters without a terminating zero is cut at 63.
  std::memset(session.password_, 'p', sizeof session.password_);
  ASSERT_TRUE(feed(FakeDevice::frameBytes(TDMSG_PASSWORD_CHALLENGE, challenge)));
  input = challenge;
  input.insert(input.end(), 63, 'p');
  tds::md5Digest(input.data(), input.size(), expected);
  EXPECT_EQ(0, std::memcmp(session.digest_, expected, 16));
}

QStringList gLines;
void KeepLine(QtMsgType, const QMessageLogContext&, const QString& line) { gLines << line; }

TEST_F(Dispatch, BitRateIndicationIsLimitedLikeTheRecordsBitRateAndLoggedInBitsPerSecond) {
  session.setH239Status(TDH239_ENCODING);
  qInstallMessageHandler(KeepLine);
  for (std::uint32_t rate : {2000000u, 0u, 8000u, 16001u, 4095999u, 5000000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    Bytes word(4), record(112, 0);
    td_put_be32(word.data(), rate);
    td_put_be32(record.data() + 20, rate);
    std::int32_t limited = ParseEncodingParams(record.data(), 112).bitRate;
    gLines.clear();
    ASSERT_TRUE(feed(FakeDevice::frameBytes(TDMSG_UPDATE_ENC_BITRATE_INDIC, word)));
    EXPECT_EQ(session.copyEncodingParams().bitRate, limited) << rate;
    QStringList lines = gLines.filter("update-enc-bitrate-indic");
    ASSERT_EQ(lines.size(), 1) << rate;
    EXPECT_TRUE(lines[0].endsWith(QString("with br  %1  bit/s").arg(limited))) << lines[0].toStdString();
  }
  qInstallMessageHandler(nullptr);
  EXPECT_EQ(session.paramsChanged_, 0);
}

}  // namespace
