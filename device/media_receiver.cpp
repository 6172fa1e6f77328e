#include "device/media_receiver.h"

#include <cstdarg>
#include <cstdio>

#include "device/stamp_reader.h"
#include "platform/clock.h"

namespace device {

namespace {
constexpr std::int64_t kSecondUs = 1000000;
// Faults of one stream logged one by one; the rest are only counted.
constexpr int kFaultLines = 10;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char line[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(line, sizeof line, fmt, args);
  va_end(args);
  return line;
}
}  // namespace

MediaReceiver::MediaReceiver(const DeviceOptions& options, MediaSink* next, const DeviceLog& log,
                             ScriptActions& actions)
    : options_(options), next_(next), log_(log), actions_(actions), script_(options.script) {}

bool MediaReceiver::prepare(std::string* error) {
  if (!decoder_.ready()) log_("decoder: " + decoder_.error() + "; pictures are received but not decoded");
  if (options_.recordPath.empty()) return true;
  if (!recorder_.open(options_.recordPath, error)) return false;
  log_("recording the stream to " + options_.recordPath);
  return true;
}

MediaReceiver::Tally& MediaReceiver::current() { return streaming_ ? stream_ : total_; }

void MediaReceiver::streamStarted(const EncodingRequest& params) {
  if (next_) next_->streamStarted(params);
  const std::int64_t now = plat::monotonicUs();
  if (streaming_) {
    // A parameter update: the sender starts a new run within this stream.
    script_.paramsInForce(params);
    return;
  }
  streaming_ = true;
  streamStartUs_ = now;
  firstPictureUs_ = lastPictureUs_ = firstPacketUs_ = lastPacketUs_ = 0;
  stream_ = Tally{};
  second_ = Second{now, 0, 0, 0};
  countersAtStart_ = receiver_.counters();
  receiver_.reset();
  decoder_.flush();
  streamLatency_.clear();
  secondLatency_.clear();
  faultsLogged_ = 0;
  script_.streamStarted(now, params);
}

void MediaReceiver::mediaPacket(const std::uint8_t* packet, std::size_t length) {
  if (next_) next_->mediaPacket(packet, length);
  const std::int64_t now = plat::monotonicUs();
  if (firstPacketUs_ == 0) firstPacketUs_ = now;
  lastPacketUs_ = now;
  Tally& t = current();
  ++t.packets;
  t.bytes += length;
  second_.bytes += length;

  const std::uint64_t gapsBefore = receiver_.counters().sequenceGaps;
  const bool complete = receiver_.feed(packet, length);
  const std::uint64_t gaps = receiver_.counters().sequenceGaps - gapsBefore;
  t.gaps += gaps;
  if ((receiver_.lastFault() || gaps) && faultsLogged_ < kFaultLines) {
    ++faultsLogged_;
    log_(receiver_.lastFault() ? std::string("receiver: packet dropped: ") + receiver_.lastFault()
                               : "receiver: sequence gap before packet " +
                                     std::to_string(packet[2] << 8 | packet[3]));
  }
  if (complete) onAccessUnit(receiver_.accessUnit());
  publish();
}

void MediaReceiver::onAccessUnit(const AccessUnit& unit) {
  Tally& t = current();
  ++t.pictures;
  ++second_.pictures;
  if (unit.idr) ++t.idr;
  const std::int64_t now = plat::monotonicUs();
  if (firstPictureUs_ == 0) firstPictureUs_ = now;
  lastPictureUs_ = now;
  if (recorder_.isOpen()) {
    std::string error;
    if (!recorder_.write(unit.data, unit.size, &error)) log_("recording: " + error);
  }
  const std::int64_t tag = static_cast<std::int64_t>(unit.rtpTimestamp) << 1 | (unit.idr ? 1 : 0);
  const int errors = decoder_.decode(unit.data, unit.size, tag,
                                     [this](DecodedFrame& f, std::int64_t t) { onPicture(f, t); });
  current().errors += static_cast<std::uint64_t>(errors);
}

void MediaReceiver::onPicture(DecodedFrame& f, std::int64_t tag) {
  const std::int64_t now = plat::monotonicUs();
  Tally& t = current();
  ++t.decoded;
  ++second_.decoded;
  t.width = f.width;
  t.height = f.height;
  f.idr = (tag & 1) != 0;
  f.rtpTimestamp = static_cast<std::uint32_t>(tag >> 1);
  f.decodedUs = now;
  Stamp stamp;
  if (options_.readStamps && readStamp(f.y, f.yStride, f.width, f.height, &stamp)) {
    f.stampCounter = stamp.counter;
    f.stampMs = stamp.drawMs;
    ++stamps_;
    // Both clocks are the same monotonic clock, cut to 32 bits of ms.
    const std::uint32_t ms = static_cast<std::uint32_t>(now / 1000) - stamp.drawMs;
    const bool repeat = options_.stampEvents && stamp.counter == lastStampCounter_;
    lastStampCounter_ = stamp.counter;
    if (ms < 0x80000000u && !repeat) {  // else a stamp from the future: another clock
      const double latency = ms;
      if (now - streamStartUs_ >= static_cast<std::int64_t>(options_.settleSeconds * 1e6)) {
        streamLatency_.add(latency);
        allLatency_.add(latency);
      }
      secondLatency_.add(latency);
    }
  }
  if (options_.onPicture) options_.onPicture(f);
}

void MediaReceiver::tick() {
  if (!streaming_) return;
  const std::int64_t now = plat::monotonicUs();
  if (now - second_.startUs >= kSecondUs) writeStats(now);
  script_.poll(now, actions_);
}

void MediaReceiver::writeStats(std::int64_t now) {
  const double ms = (now - second_.startUs) / 1000.0;
  const unsigned kbps = ms > 0 ? static_cast<unsigned>(second_.bytes * 8 / ms + 0.5) : 0;
  std::string line = format("stats: pictures=%u/s decoded=%u/s kbps=%u gaps=%llu idr=%llu errors=%llu size=%dx%d",
                            second_.pictures, second_.decoded, kbps,
                            static_cast<unsigned long long>(stream_.gaps),
                            static_cast<unsigned long long>(stream_.idr),
                            static_cast<unsigned long long>(stream_.errors), stream_.width, stream_.height);
  if (options_.readStamps)
    line += format(" latency_ms=%.1f/%.1f", secondLatency_.quantile(0.5), secondLatency_.quantile(0.95));
  secondLatency_.clear();
  log_(line);
  refreshLatency();
  // The next second starts where this one should have ended, so that the
  // lines keep a one-second rhythm; after a stall they start afresh.
  second_.startUs += kSecondUs;
  if (now - second_.startUs >= kSecondUs) second_.startUs = now;
  second_.pictures = second_.decoded = 0;
  second_.bytes = 0;
}

void MediaReceiver::writeSummary(const Tally& t, const LatencyHistogram& latency) {
  const double fps = t.pictureSeconds > 0 ? t.pictureIntervals / t.pictureSeconds : 0;
  const double kbps = t.activeSeconds > 0 ? t.bytes * 8 / 1000.0 / t.activeSeconds : 0;
  std::string line =
      format("summary: seconds=%.1f pictures=%llu decoded=%llu fps=%.2f kbps=%.0f gaps=%llu idr=%llu errors=%llu size=%dx%d",
             t.seconds, static_cast<unsigned long long>(t.pictures),
             static_cast<unsigned long long>(t.decoded), fps, kbps,
             static_cast<unsigned long long>(t.gaps), static_cast<unsigned long long>(t.idr),
             static_cast<unsigned long long>(t.errors), t.width, t.height);
  if (options_.readStamps)
    line += format(" latency_median_ms=%.1f latency_p95_ms=%.1f", latency.quantile(0.5), latency.quantile(0.95));
  log_(line);
}

void MediaReceiver::streamStopped() {
  if (next_) next_->streamStopped();
  endStream(plat::monotonicUs());
}

void MediaReceiver::endStream(std::int64_t now) {
  if (!streaming_) return;
  script_.streamStopped();
  stream_.seconds = (now - streamStartUs_) / 1e6;
  if (firstPacketUs_) stream_.activeSeconds = (lastPacketUs_ - firstPacketUs_) / 1e6;
  if (firstPictureUs_) stream_.pictureSeconds = (lastPictureUs_ - firstPictureUs_) / 1e6;
  if (stream_.pictures > 1) stream_.pictureIntervals = static_cast<double>(stream_.pictures - 1);
  writeSummary(stream_, streamLatency_);

  const RtpCounters& c = receiver_.counters();
  const std::uint64_t malformed = c.malformed - countersAtStart_.malformed;
  const std::uint64_t fragments = c.fragmentsDropped - countersAtStart_.fragmentsDropped;
  const std::uint64_t dropped = c.picturesDropped - countersAtStart_.picturesDropped;
  if (malformed || fragments || dropped)
    log_("receiver: " + std::to_string(malformed) + " malformed packets, " + std::to_string(fragments) +
         " fragment runs and " + std::to_string(dropped) + " pictures dropped in this stream");

  streaming_ = false;
  total_.seconds += stream_.seconds;
  total_.activeSeconds += stream_.activeSeconds;
  total_.pictureSeconds += stream_.pictureSeconds;
  total_.pictureIntervals += stream_.pictureIntervals;
  total_.packets += stream_.packets;
  total_.bytes += stream_.bytes;
  total_.pictures += stream_.pictures;
  total_.decoded += stream_.decoded;
  total_.gaps += stream_.gaps;
  total_.idr += stream_.idr;
  total_.errors += stream_.errors;
  if (stream_.decoded) {
    total_.width = stream_.width;
    total_.height = stream_.height;
  }
  stream_ = Tally{};
  refreshLatency();
  publish();
}

// The whole-run quantiles scan the histogram, so they are taken with the
// stats line and at the end of a stream rather than for every picture.
void MediaReceiver::refreshLatency() {
  latencyMedian_ = allLatency_.quantile(0.5);
  latencyP95_ = allLatency_.quantile(0.95);
}

void MediaReceiver::finish() {
  endStream(plat::monotonicUs());
  if (total_.packets > 0) writeSummary(total_, allLatency_);
  recorder_.close();
}

void MediaReceiver::publish() {
  const Tally& s = stream_;
  const Tally& t = total_;
  const bool live = streaming_;
  StreamStats out{};
  out.packets = t.packets + (live ? s.packets : 0);
  out.bytes = t.bytes + (live ? s.bytes : 0);
  out.pictures = t.pictures + (live ? s.pictures : 0);
  out.decoded = t.decoded + (live ? s.decoded : 0);
  out.sequenceGaps = t.gaps + (live ? s.gaps : 0);
  out.idrPictures = t.idr + (live ? s.idr : 0);
  out.decodeErrors = t.errors + (live ? s.errors : 0);
  out.stamps = stamps_;
  out.width = live && s.decoded ? s.width : t.width;
  out.height = live && s.decoded ? s.height : t.height;
  out.latencyMedianMs = latencyMedian_;
  out.latencyP95Ms = latencyP95_;
  std::lock_guard<std::mutex> g(statsLock_);
  stats_ = out;
}

StreamStats MediaReceiver::streamStats() const {
  std::lock_guard<std::mutex> g(statsLock_);
  return stats_;
}

}  // namespace device
