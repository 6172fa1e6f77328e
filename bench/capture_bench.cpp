// Grab + pointer + packing of a 1920x1080 frame through MIT-SHM and through
// GetImage, beside a memcpy of the 1920x1080x4 server image (the floor), and
// the whole frame as the codec thread takes it.
// Needs a display of at least 1920x1080 (bench/run-capture provides one).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "media/capture.h"
#include "platform/screen_grab.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::int64_t kCapacity = 3840 * 2160;

void Floor(benchmark::State& state) {
  std::vector<std::uint8_t> server(static_cast<size_t>(kWidth) * kHeight * 4, 0x5a);
  std::vector<std::uint8_t> copy(server.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), server.data(), server.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
}

void Grab(benchmark::State& state, plat::GrabMethod method) {
  plat::ScreenGrabber grabber(kCapacity, method);
  const plat::ScreenRect area{0, 0, kWidth, kHeight};
  plat::GrabResult first = grabber.Grab(area);
  if (first != plat::GrabResult::Ok || grabber.method() != method) {
    state.SkipWithError(first == plat::GrabResult::NoDisplay ? "no display"
                        : first == plat::GrabResult::Failed ? "first grab failed"
                                                             : "the method is not available");
    return;
  }
  for (auto _ : state) {
    if (grabber.Grab(area) != plat::GrabResult::Ok) {
      state.SkipWithError("a grab failed");
      return;
    }
    benchmark::DoNotOptimize(grabber.packed());
  }
}

// The whole CaptureFrame as the codec thread runs it, on either route:
// grab, conversion and scaling to 1280x720.
void Frame(benchmark::State& state, CCapture::Route route) {
  auto capture = std::make_unique<CCapture>(plat::GrabMethod::Auto, route);
  CaptureRect area{0, 0, kWidth, kHeight};
  SetCaptureArea(capture.get(), &area);
  capture->setOutputSize(1280, 720);
  capture->CaptureFrame();
  if (capture->frameSize().width != 1280) {
    state.SkipWithError("no display of 1920x1080");
    return;
  }
  for (auto _ : state) {
    capture->CaptureFrame();
    benchmark::DoNotOptimize(capture->scaledY());
  }
}

void FrameDirect(benchmark::State& state) { Frame(state, CCapture::Route::Direct); }
void FramePacked(benchmark::State& state) { Frame(state, CCapture::Route::Packed); }

// The grab that the direct route uses: no packing pass.
void ShmInPlace(benchmark::State& state) {
  plat::ScreenGrabber grabber(kCapacity, plat::GrabMethod::SharedMemory);
  const plat::ScreenRect area{0, 0, kWidth, kHeight};
  plat::XrgbImage image{};
  if (grabber.GrabXrgb(area, &image) != plat::GrabResult::Ok) {
    state.SkipWithError("no display of 1920x1080 with MIT-SHM");
    return;
  }
  for (auto _ : state) {
    if (grabber.GrabXrgb(area, &image) != plat::GrabResult::Ok) {
      state.SkipWithError("a grab failed");
      return;
    }
    benchmark::DoNotOptimize(image.pixels);
  }
}

void Shm(benchmark::State& state) { Grab(state, plat::GrabMethod::SharedMemory); }
void GetImage(benchmark::State& state) { Grab(state, plat::GrabMethod::GetImage); }

double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

}  // namespace

// Wall time: the server's part of a grab runs in its own process. The best
// repetition is the figure least disturbed by other load on the machine.
// Fixed iteration counts (about half a second each on an idle machine) keep
// every repetition the same length, whatever the load.
#define CAPTURE_CASE(fn, name, iterations)                                                     \
  BENCHMARK(fn)->Name(name)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(iterations) \
      ->ComputeStatistics("min", Min)
CAPTURE_CASE(Floor, "floor", 1500);
CAPTURE_CASE(Shm, "shm", 400);
CAPTURE_CASE(ShmInPlace, "shm-inplace", 400);
CAPTURE_CASE(FrameDirect, "frame", 250);
CAPTURE_CASE(FramePacked, "frame-packed", 250);
CAPTURE_CASE(GetImage, "xgetimage", 60);

BENCHMARK_MAIN();
