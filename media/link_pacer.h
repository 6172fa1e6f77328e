// Keeps the stream live on a link narrower than its bit rate.
//
// At each tick the codec thread asks whether to take a picture: not while
// the socket still holds more than about two pictures that the device has
// not received, so that neither video nor a control message ever waits
// behind seconds of video. Skipped pictures are never encoded, so the stream
// stays decodable. And the encoder's bit rate is fitted to what the link
// delivers, then brought back toward the device's rate while the link keeps
// up:
//   - cut: when a picture is skipped and the backlog has stayed above half
//     the bound for kBusyBeforeCutUs, at most every kCutIntervalUs, the rate
//     becomes kCutShare of the rate the link delivered over the last
//     kWindowUs (never above the rate in force, never below half of it;
//     no cut while it delivered nothing at all);
//   - raise: when the backlog has stayed under half the bound for kHoldUs,
//     the rate grows by kRaiseStep, up to the device's rate.
// The bound is kBoundPictures pictures at the rate in force, at least
// kMinBoundBytes: at the fitted rate a picture waits at most about that
// many picture periods. A link that delivers nothing at all for kStallUs
// while bytes wait is no narrow link but a dead one (the bound a blocked
// send has too): dead() says so, and the connection is to be given up.
#pragma once
#include <cstdint>

#include "platform/net.h"

class CLinkPacer {
 public:
  // socket: the one the media goes out on (kInvalidSocket: no pacing).
  explicit CLinkPacer(plat::Socket socket = plat::kInvalidSocket) : socket_(socket) {}

  // At a tick: false when this tick's picture is to be skipped.
  bool admitNow(std::int64_t nowUs);
  // The same with the socket's backlog given (negative: unknown, every
  // picture is taken).
  bool admit(long backlogBytes, std::int64_t nowUs);
  // For the picture about to be encoded: the bit rate it gets, given what
  // the device asks for now. A rate of 0 or less is passed on unchanged.
  std::int32_t bitRate(std::int32_t deviceRate, std::int32_t frameRate);
  // Media bytes handed to the socket for that picture.
  void sent(long bytes) { sentBytes_ += bytes; }

  std::int32_t rate() const { return rate_; }
  bool limited() const { return limited_; }
  long bound() const;
  std::uint64_t skipped() const { return skippedTotal_; }
  // The link has delivered nothing for kStallUs while bytes waited.
  bool dead() const { return dead_; }

  static constexpr double kBoundPictures = 2;
  static constexpr long kMinBoundBytes = 3000;
  static constexpr double kCutShare = 0.85;
  static constexpr double kRaiseStep = 1.25;
  static constexpr std::int64_t kCutIntervalUs = 500000;
  static constexpr std::int64_t kBusyBeforeCutUs = 100000;
  // No byte delivered for this long while bytes wait: the link is dead.
  static constexpr std::int64_t kStallUs = 4000000;
  static constexpr std::int64_t kHoldUs = 1000000;
  static constexpr std::int64_t kWindowUs = 500000;
  // Shortest span that gives a delivered rate worth acting on.
  static constexpr std::int64_t kMinWindowUs = 100000;
  static constexpr std::int32_t kMinBitRate = 64000;

 private:
  void record(std::int64_t nowUs, std::int64_t delivered);
  // Bits a second that the link delivered over the last window; < 0 when
  // the samples span too short a time.
  double deliveredRate(std::int64_t nowUs) const;
  void cut(long backlog, std::int64_t nowUs);
  void raise(std::int64_t nowUs);

  plat::Socket socket_;
  std::int64_t sentBytes_ = 0;
  std::int32_t deviceRate_ = 0;  // 0: no picture taken yet
  std::int32_t frameRate_ = 0;
  std::int32_t rate_ = 0;
  bool limited_ = false;
  bool dead_ = false;
  std::int64_t lastCutUs_ = 0;
  std::int64_t quietSinceUs_ = 0;  // last tick the backlog was above half the bound
  std::int64_t busySinceUs_ = 0;   // first tick of the stretch above it; 0: none
  std::int64_t progressUs_ = 0;    // last tick at which the link had delivered more
  std::uint32_t skippedSinceLog_ = 0;
  std::int32_t loggedRate_ = 0;
  std::uint64_t skippedTotal_ = 0;

  // Bytes delivered (sent less unacknowledged) at recent ticks, a ring.
  struct Sample {
    std::int64_t us;
    std::int64_t delivered;
  };
  static constexpr int kSamples = 64;
  Sample samples_[kSamples] = {};
  int nextSample_ = 0;
  int sampleCount_ = 0;
};
