#include "device/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "device/resolution.h"
#include "tdwire.h"

namespace device {

namespace {

// A whole decimal number in [lo, hi]; k and M multiply by 1000 and 1000000
// when `units` is set (bit rates).
bool parseNumber(const char* text, unsigned long lo, unsigned long hi, bool units,
                 unsigned long* out) {
  if (!text || !*text || *text == '-' || *text == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (errno || end == text) return false;
  if (units && (*end == 'k' || *end == 'K')) {
    v *= 1000ULL;
    ++end;
  } else if (units && *end == 'M') {
    v *= 1000000ULL;
    ++end;
  }
  if (*end || v < lo || v > hi) return false;
  *out = static_cast<unsigned long>(v);
  return true;
}

bool parseSize(const char* text, int* w, int* h) {
  unsigned long a = 0, b = 0;
  const char* x = std::strchr(text, 'x');
  if (!x) return false;
  std::string left(text, x - text);
  if (!parseNumber(left.c_str(), 1, 100000, false, &a) || !parseNumber(x + 1, 1, 100000, false, &b))
    return false;
  *w = static_cast<int>(a);
  *h = static_cast<int>(b);
  return true;
}

}  // namespace

std::string deviceUsage() {
  return "usage: tandeo-device [options]\n"
         "The reference device: listens on ADDRESS:5001, pairs with one sender after another\n"
         "and answers their requests. Runs until interrupted (Ctrl+C).\n"
         "\n"
         "  --bind ADDRESS       IPv4 address to listen on (default 127.0.0.1)\n"
         "  --password TEXT      challenge every sender; accept only the right MD5 answer\n"
         "                       (at most 63 characters; wrong answers: reason 1)\n"
         "  --reject REASON      refuse every pairing with reason 0..3\n"
         "                       (0 refused, 1 wrong password, 2 busy, 3 not allowed)\n"
         "  --resolution CODE    picture size asked for, by resolution code 0..45 (default 18, 1280x720)\n"
         "  --size WxH           picture size asked for, by size (must be in the resolution table)\n"
         "  --fps N              frame rate asked for (default 15)\n"
         "  --bitrate BPS        bit rate asked for in bit/s, k and M allowed (default 2M)\n"
         "  --profile P          baseline, high, or a profile number (default high)\n"
         "  --mode N             encoding mode 0..7 (default 3)\n"
         "  --no-keepalive       send no keep-alives (a sender gives up after 7 to 8 s)\n"
         "  --verbose            log every keep-alive and media message too\n"
         "  --help               this text\n";
}

ParseOutcome parseDeviceOptions(int argc, char** argv, DeviceOptions* o, std::string* error) {
  bool sawResolution = false, sawSize = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return ParseOutcome::Help;
    if (arg == "--verbose") {
      o->verbose = true;
      continue;
    }
    if (arg == "--no-keepalive") {
      o->keepAliveMs = 0;
      continue;
    }
    static const char* const kWithValue[] = {"--bind", "--password", "--reject", "--resolution",
                                             "--size", "--fps",      "--bitrate", "--profile",
                                             "--mode"};
    bool known = false;
    for (const char* name : kWithValue) known = known || arg == name;
    if (!known) {
      *error = "unknown option '" + arg + "'";
      return ParseOutcome::Error;
    }
    if (i + 1 >= argc) {
      *error = arg + " needs a value";
      return ParseOutcome::Error;
    }
    const char* value = argv[++i];
    unsigned long n = 0;
    auto bad = [&](const std::string& what) {
      *error = arg + " '" + value + "': " + what;
      return ParseOutcome::Error;
    };
    if (arg == "--bind") {
      // Checked when the device binds; an empty text is plainly wrong here.
      if (!*value) return bad("not an IPv4 address");
      o->bindAddress = value;
    } else if (arg == "--password") {
      if (std::strlen(value) > TD_PASSWORD_SIZE - 1) return bad("at most 63 characters");
      o->password = std::string(value);
    } else if (arg == "--reject") {
      if (!parseNumber(value, 0, 3, false, &n)) return bad("expected a reason 0..3");
      o->rejectReason = static_cast<int>(n);
    } else if (arg == "--resolution") {
      if (!parseNumber(value, 0, kResolutionCount - 1, false, &n)) return bad("expected a code 0..45");
      o->encoding.resolutionCode = static_cast<std::uint32_t>(n);
      sawResolution = true;
    } else if (arg == "--size") {
      int w = 0, h = 0;
      if (!parseSize(value, &w, &h)) return bad("expected WIDTHxHEIGHT");
      int code = resolutionCode(w, h);
      if (code < 0) return bad("not a size of the resolution table");
      o->encoding.resolutionCode = static_cast<std::uint32_t>(code);
      sawSize = true;
    } else if (arg == "--fps") {
      if (!parseNumber(value, 1, 240, false, &n)) return bad("expected 1..240");
      o->encoding.frameRate = static_cast<std::uint32_t>(n);
    } else if (arg == "--bitrate") {
      if (!parseNumber(value, 1, 0xFFFFFFFFul, true, &n)) return bad("expected bits per second");
      o->encoding.bitRate = static_cast<std::uint32_t>(n);
    } else if (arg == "--profile") {
      if (std::strcmp(value, "baseline") == 0) {
        n = 66;
      } else if (std::strcmp(value, "high") == 0) {
        n = 100;
      } else if (!parseNumber(value, 0, 255, false, &n)) {
        return bad("expected baseline, high or a profile number");
      }
      o->encoding.profile = static_cast<std::uint32_t>(n);
    } else if (arg == "--mode") {
      if (!parseNumber(value, 0, 7, false, &n)) return bad("expected 0..7");
      o->encoding.mode = static_cast<std::uint32_t>(n);
    }
  }
  if (sawResolution && sawSize) {
    *error = "give --resolution or --size, not both";
    return ParseOutcome::Error;
  }
  return ParseOutcome::Run;
}

}  // namespace device
