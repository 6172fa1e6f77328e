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

// Seconds as a decimal number in [lo, hi] ("2", "0.5").
bool parseSeconds(const std::string& text, double lo, double hi, double* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (errno || end == text.c_str() || *end || !(v >= lo && v <= hi)) return false;
  *out = v;
  return true;
}

constexpr double kLongestScriptSeconds = 86400;

// SECONDS:REST, the seconds checked; false when there is no colon.
bool splitAt(const std::string& text, double* seconds, std::string* rest) {
  std::size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  *rest = text.substr(colon + 1);
  return parseSeconds(text.substr(0, colon), 0, kLongestScriptSeconds, seconds);
}

}  // namespace

void setFrameRate(std::uint32_t fps, EncodingRequest* r) {
  r->frameRate = fps;
  r->frameRateDivisor = fps == 0 ? 1 : (fps + 14) / 15;
}

bool applyEncodingSetting(const std::string& key, const std::string& text, EncodingRequest* r,
                          std::string* error) {
  const char* value = text.c_str();
  unsigned long n = 0;
  auto bad = [&](const std::string& what) {
    *error = key + " '" + text + "': " + what;
    return false;
  };
  if (key == "resolution") {
    if (!parseNumber(value, 0, kResolutionCount - 1, false, &n)) return bad("expected a code 0..45");
    r->resolutionCode = static_cast<std::uint32_t>(n);
  } else if (key == "size") {
    int w = 0, h = 0;
    if (!parseSize(value, &w, &h)) return bad("expected WIDTHxHEIGHT");
    int code = resolutionCode(w, h);
    if (code < 0) return bad("not a size of the resolution table");
    r->resolutionCode = static_cast<std::uint32_t>(code);
  } else if (key == "fps") {
    if (!parseNumber(value, 1, 90, false, &n)) return bad("expected 1..90");
    setFrameRate(static_cast<std::uint32_t>(n), r);
  } else if (key == "bitrate") {
    if (!parseNumber(value, 1, 0xFFFFFFFFul, true, &n)) return bad("expected bits per second");
    r->bitRate = static_cast<std::uint32_t>(n);
  } else if (key == "profile") {
    if (text == "baseline") {
      n = 66;
    } else if (text == "high") {
      n = 100;
    } else if (!parseNumber(value, 0, 255, false, &n)) {
      return bad("expected baseline, high or a profile number");
    }
    r->profile = static_cast<std::uint32_t>(n);
  } else if (key == "mode") {
    if (!parseNumber(value, 0, 7, false, &n)) return bad("expected 0..7");
    r->mode = static_cast<std::uint32_t>(n);
  } else {
    *error = "unknown setting '" + key + "' (resolution, size, fps, bitrate, profile or mode)";
    return false;
  }
  return true;
}

std::string deviceUsage() {
  return "usage: tandeo-device [options]\n"
         "The reference device: listens on ADDRESS:5001, pairs with one sender after another\n"
         "and answers their requests. Runs until interrupted (Ctrl+C).\n"
         "Decodes the stream it receives; prints a \"stats:\" line once a second while a\n"
         "stream runs and a \"summary:\" line when it ends.\n"
         "\n"
         "  --bind ADDRESS       IPv4 address to listen on (default 127.0.0.1)\n"
         "  --password TEXT      challenge every sender; accept only the right MD5 answer\n"
         "                       (at most 63 characters; wrong answers: reason 1)\n"
         "  --reject REASON      refuse every pairing with reason 0..3\n"
         "                       (0 refused, 1 wrong password, 2 busy, 3 not allowed)\n"
         "  --resolution CODE    picture size asked for, by resolution code 0..45 (default 18, 1280x720)\n"
         "  --size WxH           picture size asked for, by size (must be in the resolution table)\n"
         "  --fps N              frame rate asked for, 1..90 (default 15; sent as rate N with\n"
         "                       divisor ceil(N/15), so that the sender keeps N in force)\n"
         "  --bitrate BPS        bit rate asked for in bit/s, k and M allowed (default 2M)\n"
         "  --profile P          baseline, high, or a profile number (default high)\n"
         "  --mode N             encoding mode 0..7 (default 3)\n"
         "  --record FILE        write the received stream to FILE (raw H.264, Annex B)\n"
         "  --display            show the decoded pictures in a window (needs an X display)\n"
         "  --stamps             read the test pattern's time stamp from every picture and\n"
         "                       report latency (median/95th percentile)\n"
         "  --stamp-events       with --stamps: count only the first picture showing each new\n"
         "                       frame of the pattern (latency from a change on the screen)\n"
         "  --settle SECONDS     with --stamps: leave the first SECONDS of each stream out of\n"
         "                       its summary's latency figures\n"
         "\n"
         "Scripted events, SECONDS counted from the start of each stream:\n"
         "  --idr-every SECONDS  ask for an intra picture every SECONDS\n"
         "  --bitrate-at SECONDS:BPS\n"
         "                       change the bit rate at SECONDS (repeatable)\n"
         "  --params-at SECONDS:KEY=VALUE[,KEY=VALUE...]\n"
         "                       send new parameters at SECONDS; keys resolution, size, fps,\n"
         "                       bitrate, profile, mode as the options above (repeatable)\n"
         "  --stop-at SECONDS    stop the stream at SECONDS\n"
         "\n"
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
    if (arg == "--display") {
      o->display = true;
      continue;
    }
    if (arg == "--stamps") {
      o->readStamps = true;
      continue;
    }
    if (arg == "--stamp-events") {
      o->readStamps = true;
      o->stampEvents = true;
      continue;
    }
    static const char* const kWithValue[] = {"--bind", "--password", "--reject", "--resolution",
                                             "--size", "--fps",      "--bitrate", "--profile",
                                             "--mode",   "--record",   "--idr-every", "--bitrate-at",
                                             "--params-at", "--stop-at", "--settle"};
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
    } else if (arg == "--record") {
      if (!*value) return bad("expected a file name");
      o->recordPath = value;
    } else if (arg == "--idr-every") {
      double seconds = 0;
      if (!parseSeconds(value, 0.001, kLongestScriptSeconds, &seconds)) return bad("expected seconds above 0");
      o->script.idrEverySeconds = seconds;
    } else if (arg == "--settle") {
      double seconds = 0;
      if (!parseSeconds(value, 0, kLongestScriptSeconds, &seconds)) return bad("expected seconds");
      o->settleSeconds = seconds;
    } else if (arg == "--stop-at") {
      double seconds = 0;
      if (!parseSeconds(value, 0, kLongestScriptSeconds, &seconds)) return bad("expected seconds");
      o->script.stopAtSeconds = seconds;
    } else if (arg == "--bitrate-at") {
      double seconds = 0;
      std::string rest;
      if (!splitAt(value, &seconds, &rest) || !parseNumber(rest.c_str(), 1, 0xFFFFFFFFul, true, &n))
        return bad("expected SECONDS:BPS");
      o->script.bitRates.push_back({seconds, static_cast<std::uint32_t>(n)});
    } else if (arg == "--params-at") {
      ScriptedEvents::Params p;
      std::string rest;
      if (!splitAt(value, &p.atSeconds, &rest) || rest.empty())
        return bad("expected SECONDS:KEY=VALUE[,KEY=VALUE...]");
      EncodingRequest check;
      std::size_t at = 0;
      while (at <= rest.size()) {
        std::size_t comma = rest.find(',', at);
        if (comma == std::string::npos) comma = rest.size();
        std::string item = rest.substr(at, comma - at);
        std::size_t eq = item.find('=');
        if (eq == std::string::npos) return bad("expected KEY=VALUE, got '" + item + "'");
        std::string why;
        if (!applyEncodingSetting(item.substr(0, eq), item.substr(eq + 1), &check, &why)) return bad(why);
        p.settings.emplace_back(item.substr(0, eq), item.substr(eq + 1));
        at = comma + 1;
      }
      o->script.params.push_back(std::move(p));
    } else {
      // --resolution, --size, --fps, --bitrate, --profile, --mode
      std::string why;
      if (!applyEncodingSetting(arg.substr(2), value, &o->encoding, &why)) {
        *error = "--" + why;
        return ParseOutcome::Error;
      }
      sawResolution = sawResolution || arg == "--resolution";
      sawSize = sawSize || arg == "--size";
    }
  }
  if (sawResolution && sawSize) {
    *error = "give --resolution or --size, not both";
    return ParseOutcome::Error;
  }
  return ParseOutcome::Run;
}

}  // namespace device
