// Arbitrary media messages into the reference device's RTP receiver:
// header checks, sequence numbers, single NAL unit and FU-A depacketising
// and Annex B reassembly. The input is a run of packets, each a 16-bit
// big-endian length and that many bytes; the first byte picks the size cap
// of an access unit, small enough for the overflow path to be reached.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "device/rtp_receiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const std::size_t kCaps[] = {1 << 12, 1 << 16, device::RtpReceiver::kDefaultMaxAccessUnit};
  static std::unique_ptr<device::RtpReceiver> receivers[3];
  const std::size_t which = data[0] % 3;
  if (!receivers[which]) receivers[which].reset(new device::RtpReceiver(kCaps[which]));
  device::RtpReceiver& r = *receivers[which];
  r.reset();
  std::size_t at = 1;
  while (at + 2 <= size) {
    std::size_t length = std::size_t(data[at]) << 8 | data[at + 1];
    at += 2;
    if (length > size - at) length = size - at;
    if (r.feed(data + at, length)) {
      const device::AccessUnit& u = r.accessUnit();
      // Every unit is whole Annex B, within the cap, with zeroed padding.
      if (u.size < 5 || u.size > kCaps[which] || std::memcmp(u.data, "\0\0\0\1", 4) != 0) std::abort();
      for (std::size_t i = 0; i < device::RtpReceiver::kPadding; ++i)
        if (u.data[u.size + i] != 0) std::abort();
    }
    at += length;
  }
  return 0;
}
