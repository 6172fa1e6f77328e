// Frame reassembly and dispatch of received messages.
#include <QDebug>
#include <cstring>

#include "h239_info.h"
#include "handlers.h"

namespace {

void Dispatch(const CallbackTarget& target, CH239Info& session, std::uint32_t type, const unsigned char* payload,
              std::uint32_t length) {
  if (type != TDMSG_MEDIA && type != TDMSG_KEEPALIVE) {
    qInfo() << "OnRecvData" << __LINE__ << "current TD status " << session.h239Status() << " got message type "
            << type;
  }
  switch (type) {
    case TDMSG_PAIR_REJECTED:
    case TDMSG_PAIR_REJECTED_1:
    case TDMSG_PAIR_REJECTED_2:
    case TDMSG_PAIR_REJECTED_3: OnPairRejected(session, type); break;
    case TDMSG_PAIR_SUCCEED_INDIC: OnPairSucceedIndication(session); break;
    case TDMSG_PASSWORD_CHALLENGE: OnPasswordChallenge(session, payload, length); break;
    case TDMSG_START_ENCODING_ACK: OnStartEncodingAck(session, target, payload, length); break;
    case TDMSG_KEEPALIVE: session.kpaCount_ = 0; break;
    case TDMSG_STOP_ENCODING_ACK: OnStopEncodingAck(session, target); break;
    case TDMSG_VFU_REQ: OnVideoFastUpdateRequest(session); break;
    case TDMSG_UPDATE_ENC_BITRATE_INDIC: OnBitrateIndication(session, payload, length); break;
    default: break;
  }
}

}  // namespace

bool OnRecvCommitted(const CallbackTarget& target, CH239Info& session, std::size_t count) {
  RecvBuffer& buffer = session.recvBuffer_;
  buffer.commit(count);
  std::uint32_t type = 0, length = 0;
  const unsigned char* payload = nullptr;
  bool tooLong = false;
  while (buffer.front(type, length, payload, tooLong)) {
    Dispatch(target, session, type, payload, length);
    buffer.pop();
  }
  if (tooLong) {
    qInfo() << "OnRecvData" << __LINE__ << "declared length" << length << "exceeds the receive buffer";
    buffer.clear();
    return false;
  }
  buffer.compact();
  return true;
}

bool OnRecvData(const CallbackTarget& target, CH239Info& session, const unsigned char* bytes, std::size_t count) {
  RecvBuffer& buffer = session.recvBuffer_;
  if (count > buffer.room()) return false;
  std::memcpy(buffer.end(), bytes, count);
  return OnRecvCommitted(target, session, count);
}
