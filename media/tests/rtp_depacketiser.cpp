#include "media/tests/rtp_depacketiser.h"

void RtpDepacketiser::Fail(const std::string& what) {
  errors_.push_back("packet " + std::to_string(packets_) + ": " + what);
}

int32_t RtpDepacketiser::Write(const uint8_t* p, int32_t length) {
  ++packets_;
  const size_t n = length < 0 ? 0 : size_t(length);
  if (n > largest_) largest_ = n;
  if (n > maxPacket_) Fail("size " + std::to_string(n) + " over " + std::to_string(maxPacket_));
  if (n < 13) {
    Fail("too short: " + std::to_string(n));
    return 1;
  }
  if (p[0] != 0x80) Fail("first byte not 0x80");
  if ((p[1] & 0x7f) != 37) Fail("payload type not 37");
  const bool marker = (p[1] & 0x80) != 0;
  current_.bytes += n;
  const uint8_t* payload = p + 12;
  const size_t size = n - 12;
  const uint8_t indicator = payload[0];
  if (indicator & 0x80) Fail("forbidden bit set");
  const int type = indicator & 0x1f;
  if (type == 28) {
    ++fragmentPackets_;
    if (size < 3) {
      Fail("FU-A without body");
      return 1;
    }
    const uint8_t fu = payload[1];
    const bool start = fu & 0x80, end = fu & 0x40;
    if (fu & 0x20) Fail("FU header reserved bit set");
    if (start && end) Fail("FU-A with both start and end");
    if (start) {
      if (inFragment_) Fail("FU-A start inside another unit");
      fragment_.assign(1, uint8_t((indicator & 0xe0) | (fu & 0x1f)));
      inFragment_ = true;
    } else if (!inFragment_) {
      Fail("FU-A piece without a start");
      return 1;
    } else if ((fragment_[0] & 0x1f) != (fu & 0x1f) || (fragment_[0] & 0xe0) != (indicator & 0xe0)) {
      Fail("FU-A piece of another unit");
    }
    fragment_.insert(fragment_.end(), payload + 2, payload + size);
    if (end) {
      current_.nals.push_back(fragment_);
      inFragment_ = false;
    } else if (marker) {
      Fail("marker inside a fragmented unit");
    }
  } else if (type >= 1 && type <= 23) {
    if (inFragment_) Fail("single unit inside a fragmented unit");
    current_.nals.emplace_back(payload, payload + size);
  } else {
    Fail("unexpected NAL type " + std::to_string(type));
  }
  if (marker) {
    pictures_.push_back(std::move(current_));
    current_ = ReceivedPicture();
  }
  return 1;
}

Bytes AnnexB(const ReceivedPicture& picture) {
  Bytes out;
  for (const Bytes& nal : picture.nals) {
    static const uint8_t kStart[4] = {0, 0, 0, 1};
    out.insert(out.end(), kStart, kStart + 4);
    out.insert(out.end(), nal.begin(), nal.end());
  }
  return out;
}
