// Encoding control: the device's acknowledgements and requests while paired.
#include <QDebug>
#include <mutex>

#include "encoding_params_parser.h"
#include "h239_info.h"
#include "handlers.h"
#include "media/capture.h"
#include "media/resolution_table.h"

namespace {

// New record in force: output size for the capture, record for the codec thread.
void ApplyEncodingParams(CH239Info& session, const unsigned char* payload, std::uint32_t length, std::int32_t& width,
                         std::int32_t& height) {
  EncodingParams params = ParseEncodingParams(payload, length);
  GetResolution(params.resolutionCode, &width, &height);
  session.capture_->setOutputSize(width, height);
  session.storeEncodingParams(params);
}

}  // namespace

void OnStartEncodingAck(CH239Info& session, const CallbackTarget& target, const unsigned char* payload,
                        std::uint32_t length) {
  int status = session.h239Status();
  std::int32_t width = 0, height = 0;
  if (status == TDH239_AUTHORIZED) {
    session.setH239Status(TDH239_ENCODING);
    ApplyEncodingParams(session, payload, length, width, height);
    session.StartCodecThread();
    target.fire(SELECT_THREAD_EVENT_START_ENC, 0);
    qInfo() << "OnRecvData" << __LINE__
            << "got start-encoding-ack from peer and thus so started codec thread with capturing resolution " << width
            << "x" << height;
  } else if (status == TDH239_ENCODING) {
    ApplyEncodingParams(session, payload, length, width, height);
    qInfo() << "OnRecvData" << __LINE__ << "got update-encoding-param-indic from peer with resolution " << width
            << "x" << height;
  }
}

void OnStopEncodingAck(CH239Info& session, const CallbackTarget& target) {
  if (session.h239Status() != TDH239_ENCODING) return;
  session.setH239Status(TDH239_AUTHORIZED);
  session.StopCodecThread();
  target.fire(SELECT_THREAD_EVENT_STOP_ENC, 0);
  qInfo() << "OnRecvData" << __LINE__ << "got stop-encoding-ack from peer";
}

void OnVideoFastUpdateRequest(CH239Info& session) {
  if (session.h239Status() != TDH239_ENCODING) return;
  {
    std::lock_guard<plat::CriticalSection> g(session.codecLock_);
    session.vfuRequested_ = 1;
  }
  qInfo() << "OnRecvData" << __LINE__ << "got VFU-to-encoder request from peer";
}

void OnBitrateIndication(CH239Info& session, const unsigned char* payload, std::uint32_t length) {
  if (session.h239Status() != TDH239_ENCODING) return;
  if (length < 4) return;  // no bit rate in it
  // The same limits as the parameter record's bit rate: a rate of 0 or one
  // far beyond the link would leave the encoder with nothing sensible.
  std::int32_t bitRate = LimitBitRate(td_get_be32(payload));
  {
    std::lock_guard<plat::CriticalSection> g(session.codecLock_);
    session.encParams_.bitRate = bitRate;
  }
  qInfo() << "OnRecvData" << __LINE__ << "got update-enc-bitrate-indic from peer with br " << bitRate << " bit/s";
}
