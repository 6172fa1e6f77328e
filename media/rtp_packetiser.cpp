#include "media/rtp_packetiser.h"

#include <cstring>
#include <new>

#include "tdwire.h"

bool RtpPacketiser::Allocate() {
  if (!buffer_) buffer_.reset(new (std::nothrow) uint8_t[kBufferSize]);
  return buffer_ != nullptr;
}

int32_t RtpPacketiser::PayloadSize(const uint8_t* unit, int32_t size) {
  if (size < 3) return 0;
  int32_t startCode = unit[2] == 1 ? 3 : 4;
  return size > startCode ? size - startCode : 0;
}

void RtpPacketiser::PutHeader(bool marker) {
  uint8_t* p = buffer_.get();
  p[0] = TD_RTP_VERSION_BYTE;
  p[1] = TD_RTP_PAYLOAD_TYPE_H264 | (marker ? TD_RTP_MARKER : 0);
  // Sequence number, timestamp and source are the sink's to fill.
  memset(p + TD_RTP_SEQ_OFFSET, 0, TD_RTP_HEADER_SIZE - TD_RTP_SEQ_OFFSET);
}

void RtpPacketiser::SendWhole(const uint8_t* nal, int32_t n, bool marker) {
  PutHeader(marker);
  memcpy(buffer_.get() + TD_RTP_HEADER_SIZE, nal, n);
  sink_->Write(buffer_.get(), n + TD_RTP_HEADER_SIZE);
}

void RtpPacketiser::SendPieces(const uint8_t* nal, int32_t n, bool marker) {
  const uint8_t header = nal[0];
  const uint8_t* body = nal + 1;
  int32_t left = n - 1;
  bool first = true;
  while (left > 0) {
    int32_t piece = left < TD_FU_A_MAX_PIECE ? left : TD_FU_A_MAX_PIECE;
    bool last = piece == left;
    PutHeader(marker && last);
    uint8_t* p = buffer_.get() + TD_RTP_HEADER_SIZE;
    p[0] = (header & TD_NAL_NRI_MASK) | TD_NAL_TYPE_FU_A;
    p[1] = (first ? TD_FU_START : 0) | (last ? TD_FU_END : 0) | (header & TD_NAL_TYPE_MASK);
    memcpy(p + TD_FU_A_HEADER_SIZE, body, piece);
    sink_->Write(buffer_.get(), piece + TD_RTP_HEADER_SIZE + TD_FU_A_HEADER_SIZE);
    body += piece;
    left -= piece;
    first = false;
  }
}

void RtpPacketiser::SendSingle(const uint8_t* unit, int32_t size, bool marker) {
  int32_t n = PayloadSize(unit, size);
  if (n < 1 || !buffer_) return;
  const uint8_t* nal = unit + (size - n);
  if (n + TD_RTP_HEADER_SIZE > kBufferSize) {
    SendPieces(nal, n, marker);
    return;
  }
  SendWhole(nal, n, marker);
}

void RtpPacketiser::SendFragmented(const uint8_t* unit, int32_t size, bool marker) {
  int32_t n = PayloadSize(unit, size);
  if (n < 2 || !buffer_) return;
  const uint8_t* nal = unit + (size - n);
  int32_t fragments = (n - 1 + TD_FU_A_MAX_PIECE - 1) / TD_FU_A_MAX_PIECE;
  if (fragments == 1)
    SendWhole(nal, n, marker);
  else
    SendPieces(nal, n, marker);
}
