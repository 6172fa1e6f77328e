// Latency figures in bounded memory: a histogram of 0.1 ms bins for the
// whole run, and a small sample window for one second's line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace device {

class LatencyHistogram {
 public:
  static constexpr int kBinsPerMs = 10;
  static constexpr int kMaxMs = 10000;  // longer latencies land in the last bin

  LatencyHistogram();
  void add(double ms);
  void clear();
  std::uint64_t count() const { return count_; }
  // The q-quantile (0..1) in ms at 0.1 ms resolution; 0 when empty.
  double quantile(double q) const;

 private:
  static constexpr int kBins = kMaxMs * kBinsPerMs + 1;
  std::unique_ptr<std::uint32_t[]> bins_;
  std::uint64_t count_ = 0;
};

class LatencyWindow {
 public:
  static constexpr std::size_t kCapacity = 1024;  // far above any picture rate
  void add(double ms) {
    if (n_ < kCapacity) samples_[n_++] = ms;
  }
  void clear() { n_ = 0; }
  std::size_t count() const { return n_; }
  // Reorders the samples; 0 when empty.
  double quantile(double q);

 private:
  double samples_[kCapacity];
  std::size_t n_ = 0;
};

}  // namespace device
