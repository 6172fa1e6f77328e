// tandeo-pattern: shows the moving test pattern full-screen on DISPLAY, for
// screen-sharing tests and latency measurements.
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pattern_window.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
extern "C" void onSignal(int) { interrupted = true; }

const char* kUsage =
    "usage: tandeo-pattern [--fps N | --period-ms MS] [--stamp-fps N] [--seconds S] [--static]\n"
    "                      [--grain]\n"
    "Covers the screen of DISPLAY with a moving test pattern; its top row of 64 cells\n"
    "stamps each frame with its number and the monotonic time it was drawn (ms).\n"
    "\n"
    "  --fps N       frames drawn a second, 1 to 1000 (default 60)\n"
    "  --period-ms MS  one frame every MS milliseconds instead, 1 to 60000\n"
    "  --stamp-fps N   between frames, redraw only the stamp row with the time,\n"
    "                N times a second (1 to 1000): a fresh stamp for every grab\n"
    "  --seconds S   end after S seconds (default: on Ctrl+C or SIGTERM)\n"
    "  --static      draw one frame and keep it\n"
    "  --grain       add fine noise, new in every frame, as a video shows: a picture\n"
    "                that costs the encoder every bit it may spend\n";

bool parseNumber(const char* text, double low, double high, double* out) {
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (!*text || errno || *end || !std::isfinite(v) || v < low || v > high) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  pattern::PatternWindowOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    double v = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--static") {
      options.still = true;
    } else if (arg == "--grain") {
      options.grain = true;
    } else if (arg == "--fps" && i + 1 < argc && parseNumber(argv[i + 1], 1, 1000, &v) && v == std::floor(v)) {
      options.fps = static_cast<int>(v);
      ++i;
    } else if (arg == "--period-ms" && i + 1 < argc && parseNumber(argv[i + 1], 1, 60000, &v) && v == std::floor(v)) {
      options.periodMs = static_cast<int>(v);
      ++i;
    } else if (arg == "--stamp-fps" && i + 1 < argc && parseNumber(argv[i + 1], 1, 1000, &v) && v == std::floor(v)) {
      options.stampFps = static_cast<int>(v);
      ++i;
    } else if (arg == "--seconds" && i + 1 < argc && parseNumber(argv[i + 1], 0, 1e7, &v)) {
      options.seconds = v;
      ++i;
    } else {
      const bool valued = (arg == "--fps" || arg == "--seconds" || arg == "--period-ms" || arg == "--stamp-fps");
      std::fprintf(stderr, "tandeo-pattern: %s '%s'\n%s", valued ? "bad or missing value for" : "unknown option",
                   arg.c_str(), kUsage);
      return 1;
    }
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);

  pattern::PatternWindow window(options);
  std::string error;
  if (!window.start(&error)) {
    std::fprintf(stderr, "tandeo-pattern: %s\n", error.c_str());
    return 1;
  }
  std::printf("pattern: %dx%d, %s, %s\n", window.width(), window.height(),
              options.still ? "one still frame"
              : options.periodMs > 0 ? ("a frame every " + std::to_string(options.periodMs) + " ms").c_str()
                                     : (std::to_string(options.fps) + " fps").c_str(),
              window.sharedMemory() ? "shared memory" : "plain image requests");
  std::fflush(stdout);
  const std::int64_t t0 = plat::monotonicUs();
  while (window.running() && !interrupted) plat::sleepMs(20);
  window.stop();
  const double seconds = (plat::monotonicUs() - t0) / 1e6;
  std::printf("pattern: %llu frames in %.1f s\n", static_cast<unsigned long long>(window.framesDrawn()), seconds);
  return 0;
}
