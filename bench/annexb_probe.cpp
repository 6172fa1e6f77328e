// tandeo-annexb-probe: the receiving end of the latency benchmark for a
// sender that writes a plain Annex B stream to a TCP connection (FFmpeg's
// `-f h264 tcp://...`). It decodes with the reference device's decoder (one
// thread, low delay) and reads the test pattern's stamps with the device's
// reader, so that both senders are measured by the same path.
//
// Where a picture ends: the RTP stream marks its last packet; a plain
// stream does not, so an access unit ends where the next one begins (H.264's
// own rule: an access unit delimiter, parameter set or SEI after a slice, or
// a slice whose first macroblock is 0) or, for the newest one, when the
// connection has been quiet for 2 ms (the sender writes each picture at
// once). The wait is taken off the sample: latency runs to the moment the
// picture's last byte arrived plus its decoding, as with a marker.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "device/h264_decoder.h"
#include "device/latency_stats.h"
#include "device/stamp_reader.h"
#include "platform/clock.h"
#include "platform/net.h"

namespace {

constexpr long kQuietUs = 2000;
constexpr std::size_t kCapacity = 16 << 20;
constexpr std::size_t kReadAhead = 64;  // the decoder reads past the unit

const char* kUsage =
    "usage: tandeo-annexb-probe --listen ADDRESS:PORT [--seconds S] [--stamp-events]\n"
    "Accepts one connection carrying an Annex B H.264 stream, decodes it and\n"
    "reads the test pattern's stamps; prints a summary line at the end.\n";

bool isVcl(int type) { return type == 1 || type == 5; }

class Probe {
 public:
  explicit Probe(bool events) : events_(events), buffer_(new std::uint8_t[kCapacity + kReadAhead]()) {}

  // Bytes arrived at nowUs.
  bool take(const std::uint8_t* data, std::size_t n) {
    if (fill_ + n > kCapacity) return false;
    std::memcpy(buffer_.get() + fill_, data, n);
    fill_ += n;
    cut(false, 0);
    return true;
  }
  // The connection has been quiet for quietUs: the newest unit is whole.
  void quiet(std::int64_t quietUs) { cut(true, quietUs); }

  void print(double seconds) const {
    std::printf("summary: seconds=%.1f pictures=%llu decoded=%llu errors=%llu samples=%llu latency_median_ms=%.1f "
                "latency_p95_ms=%.1f\n",
                seconds, static_cast<unsigned long long>(pictures_), static_cast<unsigned long long>(decoded_),
                static_cast<unsigned long long>(errors_), static_cast<unsigned long long>(latency_.count()),
                latency_.quantile(0.5), latency_.quantile(0.95));
  }

 private:
  // Start of the NAL unit whose start code begins at or after `from`
  // (pointing past the start code), or 0 when there is none yet.
  std::size_t nextUnit(std::size_t from) const {
    const std::uint8_t* b = buffer_.get();
    for (std::size_t i = from; i + 3 < fill_; ++i) {
      if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) return i + 3;
    }
    return 0;
  }

  // Hands every whole access unit to the decoder.
  void cut(bool quiet, std::int64_t waitedUs) {
    const std::uint8_t* b = buffer_.get();
    for (;;) {
      std::size_t unit = nextUnit(scan_);
      if (unit == 0 || unit + 1 >= fill_) break;  // its header and first slice bit are not in yet
      scan_ = unit;
      const int type = b[unit] & 0x1F;
      const bool firstSlice = isVcl(type) && (b[unit + 1] & 0x80) != 0;
      const bool opens = (type == 9 || type == 7 || type == 8 || type == 6) || firstSlice;
      std::size_t codeStart = unit - 3;
      if (codeStart > 0 && b[codeStart - 1] == 0) --codeStart;
      if (opens && hasSlice_) {
        decode(start_, codeStart, 0);
        start_ = codeStart;
        hasSlice_ = false;
      }
      hasSlice_ = hasSlice_ || isVcl(type);
    }
    if (quiet && hasSlice_) {
      decode(start_, fill_, waitedUs);
      start_ = fill_;
      hasSlice_ = false;
    }
    // Keep only what is not decoded yet.
    if (start_ > 0) {
      std::memmove(buffer_.get(), b + start_, fill_ - start_);
      fill_ -= start_;
      scan_ -= std::min(scan_, start_);
      start_ = 0;
    }
  }

  void decode(std::size_t from, std::size_t to, std::int64_t waitedUs) {
    ++pictures_;
    errors_ += static_cast<std::uint64_t>(
        decoder_.decode(buffer_.get() + from, to - from, 0, [&](device::DecodedFrame& f, std::int64_t) {
          ++decoded_;
          device::Stamp stamp;
          if (!device::readStamp(f.y, f.yStride, f.width, f.height, &stamp)) return;
          const bool repeat = events_ && stamp.counter == lastCounter_;
          lastCounter_ = stamp.counter;
          const std::uint32_t ms = static_cast<std::uint32_t>((plat::monotonicUs() - waitedUs) / 1000) - stamp.drawMs;
          if (ms < 0x80000000u && !repeat) latency_.add(ms);
        }));
  }

  const bool events_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t fill_ = 0, scan_ = 0, start_ = 0;
  bool hasSlice_ = false;
  int lastCounter_ = -1;
  device::H264Decoder decoder_;
  device::LatencyHistogram latency_;
  std::uint64_t pictures_ = 0, decoded_ = 0, errors_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::string listen;
  double seconds = 1e9;
  bool events = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--listen" && i + 1 < argc) {
      listen = argv[++i];
    } else if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (arg == "--stamp-events") {
      events = true;
    } else {
      std::fputs(kUsage, stderr);
      return 1;
    }
  }
  const std::size_t colon = listen.rfind(':');
  if (colon == std::string::npos) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  const std::string address = listen.substr(0, colon);
  const int port = std::atoi(listen.c_str() + colon + 1);
  plat::Socket listener = plat::listenTcp(address.c_str(), static_cast<std::uint16_t>(port));
  if (listener == plat::kInvalidSocket) {
    std::fprintf(stderr, "tandeo-annexb-probe: cannot listen on %s\n", listen.c_str());
    return 1;
  }
  std::printf("listening on %s\n", listen.c_str());
  std::fflush(stdout);
  plat::Socket s = plat::acceptConnection(listener, 30 * 1000000L);
  plat::closeSocket(listener);
  if (s == plat::kInvalidSocket) {
    std::fputs("tandeo-annexb-probe: no sender connected within 30 s\n", stderr);
    return 1;
  }
  Probe probe(events);
  static std::uint8_t chunk[1 << 16];
  const std::int64_t t0 = plat::monotonicUs();
  std::int64_t lastByteUs = 0;
  bool pending = false;
  while (plat::monotonicUs() - t0 < static_cast<std::int64_t>(seconds * 1e6)) {
    if (plat::waitReadable(s, kQuietUs) <= 0) {
      if (pending) probe.quiet(plat::monotonicUs() - lastByteUs);
      pending = false;
      continue;
    }
    const long n = plat::recvSome(s, chunk, sizeof chunk);
    if (n <= 0) break;  // the sender is done
    lastByteUs = plat::monotonicUs();
    pending = true;
    if (!probe.take(chunk, static_cast<std::size_t>(n))) {
      std::fputs("tandeo-annexb-probe: an access unit larger than the buffer\n", stderr);
      break;
    }
  }
  if (pending) probe.quiet(plat::monotonicUs() - lastByteUs);
  plat::closeSocket(s);
  probe.print((plat::monotonicUs() - t0) / 1e6);
  return 0;
}
