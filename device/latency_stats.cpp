#include "device/latency_stats.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace device {

namespace {
// Nearest rank: the smallest sample with at least q of the samples at or
// below it.
std::uint64_t rank(double q, std::uint64_t n) {
  std::uint64_t r = static_cast<std::uint64_t>(std::ceil(q * static_cast<double>(n)));
  return std::min<std::uint64_t>(std::max<std::uint64_t>(r, 1), n);
}
}  // namespace

LatencyHistogram::LatencyHistogram() : bins_(new std::uint32_t[kBins]) { clear(); }

void LatencyHistogram::clear() {
  std::memset(bins_.get(), 0, sizeof(std::uint32_t) * kBins);
  count_ = 0;
}

void LatencyHistogram::add(double ms) {
  if (!(ms >= 0)) ms = 0;
  long bin = std::lround(ms * kBinsPerMs);
  if (bin >= kBins) bin = kBins - 1;
  if (bins_[bin] == UINT32_MAX) return;
  ++bins_[bin];
  ++count_;
}

double LatencyHistogram::quantile(double q) const {
  if (count_ == 0) return 0;
  const std::uint64_t want = rank(q, count_);
  std::uint64_t seen = 0;
  for (int i = 0; i < kBins; ++i) {
    seen += bins_[i];
    if (seen >= want) return static_cast<double>(i) / kBinsPerMs;
  }
  return static_cast<double>(kMaxMs);
}

double LatencyWindow::quantile(double q) {
  if (n_ == 0) return 0;
  const std::size_t k = static_cast<std::size_t>(rank(q, n_)) - 1;
  std::nth_element(samples_, samples_ + k, samples_ + n_);
  return samples_[k];
}

}  // namespace device
