// Pairing: the banner, the password challenge and the device's verdict.
#include <QDebug>
#include <cstring>
#include <mutex>

#include "h239_info.h"
#include "handlers.h"
#include "md5.h"

void SendPairBanner(CH239Info& session) {
  static const char banner[] = TD_PAIR_BANNER;
  session.SendControlMessage(TDMSG_PAIR_BANNER, sizeof banner - 1, banner);
}

void OnPairRejected(CH239Info& session, std::uint32_t type) {
  session.rejectedReason_ = type == TDMSG_PAIR_REJECTED ? 0 : static_cast<std::int32_t>(type - TDMSG_PAIR_REJECTED_1 + 1);
  session.connStatus_ = TDH239_CONNECTION_REJECTED;
}

void OnPairSucceedIndication(CH239Info& session) {
  session.setH239Status(TDH239_AUTHORIZED);
  session.connStatus_ = TDH239_CONNECTION_OK;
  qInfo() << "OnRecvData" << __LINE__ << "got pair-succeed-indic from peer";
}

void OnPasswordChallenge(CH239Info& session, const unsigned char* payload, std::uint32_t length) {
  // A short challenge fills only its own bytes; the rest keep what they held.
  std::memcpy(session.challenge_, payload, length < TD_CHALLENGE_SIZE ? length : TD_CHALLENGE_SIZE);
  // At most 63 characters, even if a caller handed over 64 without a zero.
  std::size_t n = strnlen(session.password_, TD_PASSWORD_SIZE - 1);
  std::memcpy(session.challenge_ + TD_CHALLENGE_SIZE, session.password_, n);
  tds::md5Digest(session.challenge_, TD_CHALLENGE_SIZE + n, session.digest_);
  session.SendControlMessage(TDMSG_PASSWORD_DIGEST, TD_DIGEST_SIZE, session.digest_);
}
