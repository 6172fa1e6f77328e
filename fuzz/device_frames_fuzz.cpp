// Arbitrary sender bytes into the reference device: frame reassembly and the
// device's side of the protocol, with the way the device pairs chosen by the
// first byte (no password, a password, or a refusal).
#include <cstddef>
#include <cstdint>

#include "device/frame_reader.h"
#include "device/journal.h"
#include "device/log.h"
#include "device/peer_protocol.h"

namespace {

class DiscardOutput : public device::FrameOutput {
 public:
  bool sendFrame(std::uint32_t, const void*, std::uint32_t length) override {
    return length <= TD_MAX_SEND_PAYLOAD;
  }
  void finishOutput() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  device::DeviceOptions options;
  switch (data[0] % 3) {
    case 1: options.password = "pw"; break;
    case 2: options.rejectReason = data[0] / 3 % 4; break;
    default: break;
  }
  options.log = [](const std::string&) {};
  device::DeviceLog log(options.log);
  device::DeviceJournal journal;
  DiscardOutput output;
  device::PeerProtocol protocol(1, options, journal, log, output);
  static device::FrameReader reader;  // its buffer is allocated once
  reader.reset();
  // The rest arrives in pieces whose sizes the input also picks.
  std::size_t at = 1;
  while (at < size) {
    std::size_t piece = 1 + data[at] % 64;
    ++at;
    if (piece > size - at) piece = size - at;
    if (reader.feed(data + at, piece, [&](const device::Frame& f) { protocol.onFrame(f); }) !=
        device::FrameReader::Result::Ok)
      break;
    at += piece;
  }
  protocol.onConnectionEnd();
  return 0;
}
