// The device's own media sink: takes every RTP packet of the stream,
// rebuilds the pictures, records and decodes them, reads their stamps,
// keeps the statistics, writes the "stats:" line once a second while a
// stream runs and a "summary:" line at its end, and runs the scripted
// events. Everything but streamStats() runs on the device thread.
//
// A stats line gives that second's pictures received (access units ended by
// a marker), pictures decoded and bit rate, and the stream's gaps, IDR
// pictures and decode errors so far. A summary gives the stream's totals;
// its fps is the rate of pictures from the first to the last, its kbps the
// rate from the first packet to the last. A parameter update continues the
// stream; a new stream starts with the start acknowledgement after a stop.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/event_script.h"
#include "device/h264_decoder.h"
#include "device/latency_stats.h"
#include "device/log.h"
#include "device/media_sink.h"
#include "device/options.h"
#include "device/recorder.h"
#include "device/rtp_receiver.h"
#include "device/stream_stats.h"

namespace device {

class MediaReceiver : public MediaSink {
 public:
  // `next`, when set, is told of the stream too (not owned).
  MediaReceiver(const DeviceOptions& options, MediaSink* next, const DeviceLog& log,
                ScriptActions& actions);

  // Opens the recording, if one is asked for; false with the reason.
  bool prepare(std::string* error);

  void streamStarted(const EncodingRequest& params) override;
  void mediaPacket(const std::uint8_t* packet, std::size_t length) override;
  void streamStopped() override;
  void tick() override;
  // The device stops: the summary over everything received, if anything was.
  void finish();

  StreamStats streamStats() const;

 private:
  // Figures over one stream, or over all of them.
  struct Tally {
    double seconds = 0;        // streaming time
    double activeSeconds = 0;  // first to last packet
    double pictureSeconds = 0; // first to last picture
    double pictureIntervals = 0;
    std::uint64_t packets = 0, bytes = 0, pictures = 0, decoded = 0, gaps = 0, idr = 0, errors = 0;
    int width = 0, height = 0;
  };
  struct Second {
    std::int64_t startUs = 0;
    std::uint32_t pictures = 0, decoded = 0;
    std::uint64_t bytes = 0;
  };

  void onAccessUnit(const AccessUnit& unit);
  void onPicture(DecodedFrame& frame, std::int64_t tag);
  void writeStats(std::int64_t nowUs);
  void writeSummary(const Tally& t, const LatencyHistogram& latency);
  Tally& current();  // the stream's figures, or the total between streams
  void endStream(std::int64_t nowUs);
  void publish();
  void refreshLatency();

  const DeviceOptions& options_;
  MediaSink* const next_;
  const DeviceLog& log_;
  ScriptActions& actions_;
  RtpReceiver receiver_;
  H264Decoder decoder_;
  Recorder recorder_;
  EventScript script_;
  LatencyHistogram streamLatency_, allLatency_;
  LatencyWindow secondLatency_;

  bool streaming_ = false;
  std::int64_t streamStartUs_ = 0, firstPacketUs_ = 0, lastPacketUs_ = 0;
  std::int64_t firstPictureUs_ = 0, lastPictureUs_ = 0;
  Tally stream_, total_;
  Second second_;
  RtpCounters countersAtStart_;
  int faultsLogged_ = 0;

  mutable std::mutex statsLock_;
  StreamStats stats_{};  // under statsLock_
  std::uint64_t stamps_ = 0;
  int lastStampCounter_ = -1;  // the pattern frame of the last stamped picture
  double latencyMedian_ = 0, latencyP95_ = 0;
};

}  // namespace device
