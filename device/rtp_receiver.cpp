#include "device/rtp_receiver.h"

#include <cstring>

#include "tdwire.h"

namespace device {

namespace {
const std::uint8_t kStartCode[4] = {0, 0, 0, 1};
}  // namespace

RtpReceiver::RtpReceiver(std::size_t maxAccessUnit)
    : max_(maxAccessUnit), buffer_(new std::uint8_t[maxAccessUnit + kPadding]) {}

void RtpReceiver::reset() {
  size_ = 0;
  inFragment_ = orphan_ = overflow_ = hasIdr_ = false;
  haveSequence_ = false;
}

bool RtpReceiver::malformed(const char* why) {
  ++counters_.malformed;
  lastFault_ = why;
  return false;  // no picture completed
}

void RtpReceiver::abandonFragment() {
  if (!inFragment_) return;
  size_ = fragmentStart_;
  inFragment_ = false;
  // Pieces of this run that still come are skipped without counting again.
  orphan_ = true;
  ++counters_.fragmentsDropped;
}

void RtpReceiver::checkSequence(std::uint16_t seq) {
  const bool expected = haveSequence_ && seq == nextSequence_;
  if (haveSequence_ && !expected) {
    if (seq == 1) {
      // The sender numbers every run from 1: a parameter update started a
      // new one. Its runs end between pictures, so anything half-built here
      // is a remnant.
      if (size_ > 0 || inFragment_ || overflow_) ++counters_.picturesDropped;
      size_ = 0;
      inFragment_ = orphan_ = overflow_ = hasIdr_ = false;
    } else {
      ++counters_.sequenceGaps;
      abandonFragment();
    }
  }
  haveSequence_ = true;
  nextSequence_ = static_cast<std::uint16_t>(seq + 1);
}

bool RtpReceiver::append(const std::uint8_t* data, std::size_t length) {
  if (overflow_) return false;
  if (length > max_ - size_) {
    // Too large to be a picture of any size the device asks for: the whole
    // picture goes.
    overflow_ = true;
    size_ = 0;
    inFragment_ = false;
    return false;
  }
  std::memcpy(buffer_.get() + size_, data, length);
  size_ += length;
  return true;
}

bool RtpReceiver::feed(const std::uint8_t* p, std::size_t length) {
  ++counters_.packets;
  counters_.bytes += length;
  lastFault_ = nullptr;
  if (length < TD_RTP_HEADER_SIZE) return malformed("shorter than an RTP header");
  if (p[0] != TD_RTP_VERSION_BYTE) return malformed("not RTP version 2 without padding, extension or sources");
  if ((p[1] & 0x7F) != TD_RTP_PAYLOAD_TYPE_H264) return malformed("payload type is not 37");
  if (td_get_be32(p + TD_RTP_SSRC_OFFSET) != 0) return malformed("synchronisation source is not 0");
  const std::uint32_t timestamp = td_get_be32(p + TD_RTP_TIMESTAMP_OFFSET);
  const bool marker = (p[1] & TD_RTP_MARKER) != 0;
  checkSequence(static_cast<std::uint16_t>(p[TD_RTP_SEQ_OFFSET] << 8 | p[TD_RTP_SEQ_OFFSET + 1]));

  const std::uint8_t* payload = p + TD_RTP_HEADER_SIZE;
  const std::size_t n = length - TD_RTP_HEADER_SIZE;
  if (n == 0) {
    malformed("no payload");
  } else if (payload[0] & 0x80) {
    malformed("NAL forbidden bit set");
  } else {
    const unsigned type = payload[0] & TD_NAL_TYPE_MASK;
    if (type >= 1 && type <= 23) {
      abandonFragment();
      orphan_ = false;
      if (append(kStartCode, sizeof kStartCode) && append(payload, n) && type == TD_NAL_TYPE_IDR)
        hasIdr_ = true;
    } else if (type == TD_NAL_TYPE_FU_A) {
      feedFragment(payload, n);
    } else {
      malformed("NAL unit type that the sender never sends");
    }
  }
  if (!marker) return false;
  // The marker ends the picture, whatever became of this packet.
  abandonFragment();
  orphan_ = false;
  return endPicture(timestamp);
}

void RtpReceiver::feedFragment(const std::uint8_t* payload, std::size_t n) {
  if (n < 3) {
    malformed("FU-A fragment without a body");
    return;
  }
  const std::uint8_t fu = payload[1];
  const unsigned type = fu & TD_NAL_TYPE_MASK;
  const bool start = (fu & TD_FU_START) != 0, end = (fu & TD_FU_END) != 0;
  if (start && end) {
    malformed("FU-A fragment both starts and ends");
    return;
  }
  if (type < 1 || type > 23) {
    malformed("FU-A fragment of a NAL unit type that cannot be fragmented");
    return;
  }
  if (start) {
    abandonFragment();
    orphan_ = false;
    fragmentStart_ = size_;
    fragmentType_ = type;
    const std::uint8_t header = static_cast<std::uint8_t>((payload[0] & TD_NAL_NRI_MASK) | type);
    if (append(kStartCode, sizeof kStartCode) && append(&header, 1) && append(payload + 2, n - 2))
      inFragment_ = true;
    return;
  }
  if (!inFragment_) {
    // Its start was lost or dropped: the rest of the run goes too, counted once.
    if (!orphan_) ++counters_.fragmentsDropped;
    orphan_ = !end;
    return;
  }
  if (type != fragmentType_) {
    abandonFragment();
    orphan_ = !end;
    malformed("FU-A fragment of another NAL unit type than its run");
    return;
  }
  if (!append(payload + 2, n - 2)) return;
  if (end) {
    inFragment_ = false;
    if (type == TD_NAL_TYPE_IDR) hasIdr_ = true;
  }
}

bool RtpReceiver::endPicture(std::uint32_t timestamp) {
  const bool lost = overflow_;
  overflow_ = false;
  const bool idr = hasIdr_;
  hasIdr_ = false;
  if (lost) {
    ++counters_.picturesDropped;
    size_ = 0;
    return false;
  }
  if (size_ == 0) return false;
  std::memset(buffer_.get() + size_, 0, kPadding);
  unit_ = AccessUnit{buffer_.get(), size_, idr, timestamp};
  size_ = 0;
  ++counters_.pictures;
  if (idr) ++counters_.idrPictures;
  return true;
}

}  // namespace device
