#include "media/link_pacer.h"

#include <QDebug>
#include <algorithm>

bool CLinkPacer::admitNow(std::int64_t nowUs) {
  if (socket_ == plat::kInvalidSocket) return true;
  return admit(plat::unsentBytes(socket_), nowUs);
}

long CLinkPacer::bound() const {
  if (rate_ <= 0 || frameRate_ <= 0) return 0;
  const double picture = rate_ / 8.0 / frameRate_;
  return std::max(kMinBoundBytes, static_cast<long>(kBoundPictures * picture));
}

bool CLinkPacer::admit(long backlog, std::int64_t nowUs) {
  // Nothing known yet (no picture taken, or no way to ask the system):
  // every picture goes, as on a link that always keeps up.
  if (backlog < 0 || rate_ <= 0) return true;
  const std::int64_t delivered = sentBytes_ - backlog;
  if (backlog == 0 || sampleCount_ == 0 || delivered > samples_[(nextSample_ + kSamples - 1) % kSamples].delivered)
    progressUs_ = nowUs;
  record(nowUs, delivered);
  const long limit = bound();
  // Busy from above half the bound until back under a quarter of it, so
  // that a skip's dip does not count as the queue going away.
  if (backlog > limit / 2) {
    if (busySinceUs_ == 0) busySinceUs_ = nowUs;
    quietSinceUs_ = nowUs;
  } else if (backlog <= limit / 4) {
    busySinceUs_ = 0;
  }
  if (backlog <= limit) {
    if (limited_ && nowUs - quietSinceUs_ >= kHoldUs) raise(nowUs);
    return true;
  }
  // Nothing delivered for as long as a send may wait: the peer has stopped
  // reading or the link is gone.
  if (nowUs - progressUs_ >= kStallUs) dead_ = true;
  ++skippedSinceLog_;
  ++skippedTotal_;
  // One burst (an intra picture, a receiver that paused) is only waited out;
  // a queue that has stayed up for a while says the link is too narrow.
  if (nowUs - busySinceUs_ >= kBusyBeforeCutUs && nowUs - lastCutUs_ >= kCutIntervalUs) cut(backlog, nowUs);
  return false;
}

std::int32_t CLinkPacer::bitRate(std::int32_t deviceRate, std::int32_t frameRate) {
  if (deviceRate <= 0) return deviceRate;
  if (frameRate > 0) frameRate_ = frameRate;
  deviceRate_ = deviceRate;
  // Never above what the device asks for; while the link keeps up, exactly that.
  if (!limited_ || rate_ >= deviceRate) {
    rate_ = deviceRate;
    limited_ = false;
  }
  return rate_;
}

void CLinkPacer::record(std::int64_t nowUs, std::int64_t delivered) {
  samples_[nextSample_] = Sample{nowUs, delivered};
  nextSample_ = (nextSample_ + 1) % kSamples;
  sampleCount_ = std::min(sampleCount_ + 1, kSamples);
}

double CLinkPacer::deliveredRate(std::int64_t nowUs) const {
  const Sample& newest = samples_[(nextSample_ + kSamples - 1) % kSamples];
  const Sample* oldest = nullptr;
  for (int i = sampleCount_; i >= 1; --i) {
    const Sample& s = samples_[(nextSample_ + kSamples - i) % kSamples];
    if (nowUs - s.us <= kWindowUs) {
      oldest = &s;
      break;
    }
  }
  if (!oldest || newest.us - oldest->us < kMinWindowUs) return -1;
  const double bytes = static_cast<double>(std::max<std::int64_t>(0, newest.delivered - oldest->delivered));
  return bytes * 8 * 1e6 / static_cast<double>(newest.us - oldest->us);
}

void CLinkPacer::cut(long backlog, std::int64_t nowUs) {
  const double delivered = deliveredRate(nowUs);
  // Too soon to tell, or a link that carried nothing at all (a pause says
  // nothing of its rate): skip, and look again next tick.
  if (delivered <= 0) return;
  lastCutUs_ = nowUs;
  // What the link carried while it was this full, less a margin for the
  // encoder overshooting its target; the floor keeps a link that nearly
  // stalled for a moment from throwing the rate away at once.
  const double fitted = std::max(rate_ / 2.0, std::min<double>(rate_, kCutShare * delivered));
  const bool wasLimited = limited_;
  rate_ = std::max(std::min(kMinBitRate, deviceRate_), static_cast<std::int32_t>(fitted));
  limited_ = rate_ < deviceRate_;
  // One line when the link first falls short and when it narrows further;
  // the steady saw of cuts and raises on a narrow link says nothing new.
  if (wasLimited && rate_ > loggedRate_ * 0.9) return;
  loggedRate_ = rate_;
  qInfo() << "CLinkPacer::cut" << __LINE__ << "link narrower than the stream:" << skippedSinceLog_
          << "pictures skipped," << backlog << "bytes unsent, bit rate" << rate_ << "bit/s of" << deviceRate_;
  skippedSinceLog_ = 0;
}

void CLinkPacer::raise(std::int64_t nowUs) {
  quietSinceUs_ = nowUs;
  const double next = rate_ * kRaiseStep;
  if (next < deviceRate_) {
    rate_ = static_cast<std::int32_t>(next);
    return;
  }
  rate_ = deviceRate_;
  limited_ = false;
  qInfo() << "CLinkPacer::raise" << __LINE__ << "link keeps up: bit rate back at" << rate_ << "bit/s";
}
