// Colour conversion + scaling of one grabbed frame, per frame on one core:
// our fast path against libyuv (box and bilinear), swscale (bicubic), our
// reference, and a memcpy of the source frame as the physical floor.
//
// Case names are "<implementation>/<case>"; bench/run-scaler turns them into
// ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
#include <libavutil/pixfmt.h>
}
#include <libyuv/convert.h>
#include <libyuv/scale.h>

#include "media/scaler.h"

namespace {

struct Frame {
  int w, h;
  std::vector<std::uint8_t> bgr;          // bottom-up rows of 3 * w bytes, as grabbed
  std::vector<std::uint8_t> y, u, v;      // full-size I420
  std::vector<std::uint8_t> sy, su, sv;   // scaled I420
  Frame(int sw, int sh, int dw, int dh)
      : w(sw), h(sh), bgr(static_cast<std::size_t>(3) * sw * sh), y(sw * sh), u(sw / 2 * (sh / 2 + 1)),
        v(u.size()), sy(dw * dh), su(dw / 2 * (dh / 2 + 1)), sv(su.size()) {
    std::mt19937 rng(42);
    // A desktop-like picture: flat areas, gradients and some noise.
    for (int r = 0; r < sh; ++r)
      for (int x = 0; x < sw; ++x) {
        std::uint8_t* p = &bgr[(static_cast<std::size_t>(r) * sw + x) * 3];
        const bool text = ((x / 8) + (r / 16)) % 5 == 0;
        p[0] = text ? static_cast<std::uint8_t>(rng()) : static_cast<std::uint8_t>(x * 255 / sw);
        p[1] = text ? static_cast<std::uint8_t>(rng()) : static_cast<std::uint8_t>(r * 255 / sh);
        p[2] = text ? static_cast<std::uint8_t>(rng()) : 200;
      }
  }
};

struct Case {
  int sw, sh, dw, dh;
  bool scale;
  std::string Name() const {
    std::string n = std::to_string(sw) + "x" + std::to_string(sh);
    return scale ? n + "->" + std::to_string(dw) + "x" + std::to_string(dh) : "convert-" + n;
  }
};

void RunFast(benchmark::State& state, Case c, PixelPath path) {
  Frame f(c.sw, c.sh, c.dw, c.dh);
  ScalerContext ctx;
  for (auto _ : state) {
    Rgb24ToI420On(path, f.bgr.data(), f.y.data(), f.u.data(), f.v.data(), c.sw, c.sh, c.sw,
                  c.sw / 2, 3 * c.sw, true);
    if (c.scale)
      ScaleI420On(path, &ctx, c.sw, c.sh, c.sw, c.sw / 2, f.y.data(), f.u.data(), f.v.data(), c.dw,
                  c.dh, c.dw, c.dw / 2, f.sy.data(), f.su.data(), f.sv.data());
    benchmark::DoNotOptimize(f.sy.data());
    benchmark::ClobberMemory();
  }
}

void RunLibyuv(benchmark::State& state, Case c, libyuv::FilterMode mode) {
  Frame f(c.sw, c.sh, c.dw, c.dh);
  for (auto _ : state) {
    // A negative height reads the bottom-up rows in reverse.
    libyuv::RGB24ToI420(f.bgr.data(), 3 * c.sw, f.y.data(), c.sw, f.u.data(), c.sw / 2, f.v.data(),
                        c.sw / 2, c.sw, -c.sh);
    if (c.scale)
      libyuv::I420Scale(f.y.data(), c.sw, f.u.data(), c.sw / 2, f.v.data(), c.sw / 2, c.sw, c.sh,
                        f.sy.data(), c.dw, f.su.data(), c.dw / 2, f.sv.data(), c.dw / 2, c.dw,
                        c.dh, mode);
    benchmark::DoNotOptimize(f.sy.data());
    benchmark::ClobberMemory();
  }
}

void RunSwscale(benchmark::State& state, Case c) {
  Frame f(c.sw, c.sh, c.dw, c.dh);
  const int dw = c.scale ? c.dw : c.sw, dh = c.scale ? c.dh : c.sh;
  SwsContext* sws = sws_getContext(c.sw, c.sh, AV_PIX_FMT_BGR24, dw, dh, AV_PIX_FMT_YUV420P,
                                   SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!sws) {
    state.SkipWithError("sws_getContext failed");
    return;
  }
  std::uint8_t* out[3] = {c.scale ? f.sy.data() : f.y.data(), c.scale ? f.su.data() : f.u.data(),
                          c.scale ? f.sv.data() : f.v.data()};
  const int outStride[3] = {dw, dw / 2, dw / 2};
  // Bottom-up source: start at the last stored row with a negative stride.
  const std::uint8_t* in[1] = {f.bgr.data() + static_cast<std::size_t>(3) * c.sw * (c.sh - 1)};
  const int inStride[1] = {-3 * c.sw};
  for (auto _ : state) {
    sws_scale(sws, in, inStride, 0, c.sh, out, outStride);
    benchmark::DoNotOptimize(out[0]);
    benchmark::ClobberMemory();
  }
  sws_freeContext(sws);
}

void RunMemcpy(benchmark::State& state, Case c) {
  Frame f(c.sw, c.sh, c.dw, c.dh);
  std::vector<std::uint8_t> copy(f.bgr.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), f.bgr.data(), f.bgr.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
}

void RegisterAll() {
  const Case cases[] = {{1920, 1080, 1920, 1080, false},
                        {1920, 1080, 1280, 720, true},
                        {1920, 1080, 1920, 1080, true},
                        {2560, 1440, 1920, 1080, true},
                        {3840, 2160, 1920, 1080, true}};
  for (const Case& c : cases) {
    const std::string n = c.Name();
    auto reg = [&](const std::string& impl, auto fn) {
      // CPU time of the one thread, and the best of several repetitions: the
      // machine may be shared while it runs.
      benchmark::RegisterBenchmark((impl + "/" + n).c_str(), fn)
          ->Unit(benchmark::kMicrosecond)
          ->ComputeStatistics("min", [](const std::vector<double>& v) {
            return *std::min_element(v.begin(), v.end());
          });
    };
    reg("fast", [c](benchmark::State& s) { RunFast(s, c, DefaultPixelPath()); });
    // The narrower paths too, for CPUs that lack the default one.
    for (PixelPath path : {PixelPath::Sse2, PixelPath::Avx2, PixelPath::Avx512})
      if (path != DefaultPixelPath() && PixelPathAvailable(path))
        reg(PixelPathName(path), [c, path](benchmark::State& s) { RunFast(s, c, path); });
    reg("reference", [c](benchmark::State& s) { RunFast(s, c, PixelPath::Reference); });
    if (c.scale) {
      reg("libyuv-box", [c](benchmark::State& s) { RunLibyuv(s, c, libyuv::kFilterBox); });
      reg("libyuv", [c](benchmark::State& s) { RunLibyuv(s, c, libyuv::kFilterBilinear); });
    } else {
      reg("libyuv", [c](benchmark::State& s) { RunLibyuv(s, c, libyuv::kFilterNone); });
    }
    reg("swscale", [c](benchmark::State& s) { RunSwscale(s, c); });
    reg("memcpy", [c](benchmark::State& s) { RunMemcpy(s, c); });
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
