// Encoding speed of the encoder (libx264 behind the wrapper, with its RTP
// packetiser and a sink that only counts) beside libx264 driven directly
// with the same parameters on the same pictures, in alternating rounds.
// Prints one line per size and, last, the summary:
//   encoder: wrapper/direct=R fps720=F1 fps1080=F2
// R is the wrapper's speed over the direct speed (1.000: no cost): the
// processor time of the whole process (all encoder threads) of a direct
// round over that of the wrapper round beside it, the median over all round
// pairs, so that other load on a shared machine cancels out as far as it can.
// F1 and F2 are the wrapper's pictures per second of wall-clock time in its
// best round.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <memory>
#include <vector>

#include "media/tests/desktop_sequence.h"
#include "media/tests/encoder_test_util.h"
#include "media/x264_encoder.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

constexpr int kFrameRate = 30;
constexpr int kBitrate = 4096000;  // the highest a device may ask for
constexpr int kPictures = 16;      // distinct pictures, encoded in a loop

struct NullSink : OutBitStream {
  long long bytes = 0;
  int32_t Write(const uint8_t*, int32_t length) override {
    bytes += length;
    return 1;
  }
};

// The wrapper, timing its library call so that its own share of each
// Encode (parameter checks, packetising, the sink) can be told apart.
class TimedEncoder : public X264Encoder {
 public:
  using X264Encoder::X264Encoder;
  double librarySeconds = 0;

 protected:
  int EncodeLibrary(x264_t* e, x264_nal_t** nals, int* count, x264_picture_t* in,
                    x264_picture_t* out) override {
    const auto t0 = Clock::now();
    int rc = X264Encoder::EncodeLibrary(e, nals, count, in, out);
    librarySeconds += std::chrono::duration<double>(Clock::now() - t0).count();
    return rc;
  }
};

// libx264 alone, opened exactly as the wrapper opens it.
class Direct {
 public:
  explicit Direct(const FrameEncodeParams& p) {
    const int w = p.word[FrameEncodeParams::kWidth], h = p.word[FrameEncodeParams::kHeight];
    FillX264Params(&params_, kProfileHigh, w, h, kBitrate, kFrameRate);
    SampleAspect sar = ChooseSampleAspect(2, 255, 1, 1, w, h);
    params_.vui.i_sar_width = sar.width;
    params_.vui.i_sar_height = sar.height;
    encoder_ = x264_encoder_open(&params_);
  }
  ~Direct() {
    if (encoder_) x264_encoder_close(encoder_);
  }
  bool ok() const { return encoder_ != nullptr; }
  long long Encode(const FramePicture& pic) {
    x264_picture_t in, out;
    x264_picture_init(&in);
    in.i_pts = pts_++;
    in.img.i_csp = X264_CSP_I420;
    in.img.i_plane = 3;
    in.img.plane[0] = const_cast<uint8_t*>(pic.y);
    in.img.plane[1] = const_cast<uint8_t*>(pic.u);
    in.img.plane[2] = const_cast<uint8_t*>(pic.v);
    in.img.i_stride[0] = pic.yStride;
    in.img.i_stride[1] = pic.uStride;
    in.img.i_stride[2] = pic.vStride;
    x264_nal_t* nals;
    int count;
    return x264_encoder_encode(encoder_, &nals, &count, &in, &out);
  }

 private:
  x264_param_t params_;
  x264_t* encoder_ = nullptr;
  int64_t pts_ = 0;
};

struct Result {
  double wrapperSeconds, directSeconds;  // wall clock, best round of each
  std::vector<double> ratios;            // direct / wrapper processor time, per pair
  int frames;
  double ownShare;                       // wrapper's own time / its library time
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

Result Measure(int width, int height, int code, int rounds, int frames) {
  // Pictures are rendered before timing: only encoding is measured.
  std::vector<std::unique_ptr<DesktopSequence>> pictures;
  for (int i = 0; i < kPictures; ++i) {
    pictures.emplace_back(new DesktopSequence(width, height, DesktopSequence::Scene::kMovingWindow));
    pictures.back()->Render(i);
  }
  const FrameEncodeParams params = TestParams(width, height, code, kProfileHigh, kBitrate, kFrameRate);
  NullSink sink;
  std::unique_ptr<TimedEncoder> wrapper(new TimedEncoder(MakeEncoderConfig(params), &sink));
  Direct direct(params);
  if (!wrapper->Open() || !direct.ok()) {
    fprintf(stderr, "encoder_bench: cannot open libx264 at %dx%d\n", width, height);
    exit(1);
  }
  int next = 0;
  auto runWrapper = [&](int n) {
    for (int i = 0; i < n; ++i) {
      FramePicture pic = pictures[size_t(next++ % kPictures)]->picture();
      wrapper->Encode(&pic, &params);
    }
  };
  int nextDirect = 0;
  auto runDirect = [&](int n) {
    for (int i = 0; i < n; ++i) direct.Encode(pictures[size_t(nextDirect++ % kPictures)]->picture());
  };
  runWrapper(kPictures);  // past the first key picture and the warm-up
  runDirect(kPictures);

  Result r{1e30, 1e30, {}, frames, 0};
  double wrapperTotal = 0;
  wrapper->librarySeconds = 0;
  for (int round = 0; round < rounds; ++round) {
    double cpuOf[2] = {0, 0};  // wrapper, direct
    // Alternate which goes first so neither always follows the other.
    for (int turn = 0; turn < 2; ++turn) {
      const bool wrapperTurn = (turn == 0) == (round % 2 == 0);
      const double cpu0 = CpuSeconds();
      const auto t0 = Clock::now();
      if (wrapperTurn)
        runWrapper(frames);
      else
        runDirect(frames);
      const double s = std::chrono::duration<double>(Clock::now() - t0).count();
      const double cpu = CpuSeconds() - cpu0;
      double& best = wrapperTurn ? r.wrapperSeconds : r.directSeconds;
      best = std::min(best, s);
      cpuOf[wrapperTurn ? 0 : 1] = cpu;
      if (wrapperTurn) wrapperTotal += s;
    }
    r.ratios.push_back(cpuOf[1] / cpuOf[0]);
  }
  r.ownShare = (wrapperTotal - wrapper->librarySeconds) / wrapper->librarySeconds;
  printf("%dx%d: wrapper %.1f fps, direct %.1f fps (best round), wrapper/direct %.3f (median of %d round "
         "pairs of %d pictures, %.0f kbit/s sent); the wrapper's own work is %.2f %% of its library time\n",
         width, height, frames / r.wrapperSeconds, frames / r.directSeconds, Median(r.ratios), rounds, frames,
         sink.bytes * 8.0 / 1000 / (double(next) / kFrameRate), 100 * r.ownShare);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 11;
  const int frames = argc > 2 ? std::max(1, atoi(argv[2])) : 30;
  Result r720 = Measure(1280, 720, 18, rounds, frames);
  Result r1080 = Measure(1920, 1080, 28, rounds, frames);
  std::vector<double> all = r720.ratios;
  all.insert(all.end(), r1080.ratios.begin(), r1080.ratios.end());
  const double ratio = Median(all);
  printf("encoder: wrapper/direct=%.3f fps720=%.1f fps1080=%.1f\n", ratio, r720.frames / r720.wrapperSeconds,
         r1080.frames / r1080.wrapperSeconds);
  return 0;
}
