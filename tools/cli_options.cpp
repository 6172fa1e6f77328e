#include "cli_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace cli {

namespace {
// The session copies a 64-byte buffer holding a zero-terminated password.
constexpr std::size_t kMaxPassword = 63;
constexpr double kMaxDuration = 1e7;
}  // namespace

std::string cliUsage() {
  return "usage: tandeo-cli ADDRESS [--password TEXT] [--share] [--duration SECONDS] [--verbose]\n"
         "Pairs with the device at ADDRESS (IPv4, port 5001) and prints one line per session event.\n"
         "\n"
         "  --password TEXT     the device's password (at most 63 characters)\n"
         "  --share             once paired, stream the screen to the device (X display, or\n"
         "                      on a Wayland desktop the monitor the desktop portal grants;\n"
         "                      TANDEO_CAPTURE=x11|portal chooses)\n"
         "  --duration SECONDS  end this long after pairing, or with --share after the\n"
         "                      stream started: stop the stream, then disconnect\n"
         "                      (default: on Ctrl+C)\n"
         "  --verbose           also print the session's own log lines (on stderr)\n"
         "\n"
         "Exit status: 0 paired and ended normally (also when the device stopped the\n"
         "stream), 1 usage or other error (also a stream that never started, or a screen\n"
         "the desktop declined to share), 2 rejected,\n"
         "3 connect time-out, 4 connection lost.\n";
}

bool isDottedIPv4(const std::string& text) {
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    std::size_t start = i;
    unsigned value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3)
      value = value * 10 + unsigned(text[i++] - '0');
    if (i == start || value > 255) return false;
    if (i - start > 1 && text[start] == '0') return false;  // no leading zeros
    if (i < text.size() && text[i] >= '0' && text[i] <= '9') return false;  // four digits
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  return i == text.size();
}

CliParse parseCliOptions(int argc, char** argv, CliOptions* o, std::string* error) {
  bool haveAddress = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return CliParse::Help;
    if (arg == "--share") {
      o->share = true;
    } else if (arg == "--verbose") {
      o->verbose = true;
    } else if (arg == "--password" || arg == "--duration") {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return CliParse::Error;
      }
      std::string value = argv[++i];
      if (arg == "--password") {
        if (value.size() > kMaxPassword) {
          *error = "--password: at most 63 characters";
          return CliParse::Error;
        }
        o->password = value;
      } else {
        errno = 0;
        char* end = nullptr;
        double d = std::strtod(value.c_str(), &end);
        if (value.empty() || errno || *end || !std::isfinite(d) || d < 0 || d > kMaxDuration) {
          *error = "--duration '" + value + "': expected a number of seconds";
          return CliParse::Error;
        }
        o->durationSeconds = d;
      }
    } else if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option '" + arg + "'";
      return CliParse::Error;
    } else if (haveAddress) {
      *error = "more than one address ('" + o->address + "', '" + arg + "')";
      return CliParse::Error;
    } else {
      if (!isDottedIPv4(arg)) {
        *error = "'" + arg + "' is not a dotted IPv4 address";
        return CliParse::Error;
      }
      o->address = arg;
      haveAddress = true;
    }
  }
  if (!haveAddress) {
    *error = "no device address given";
    return CliParse::Error;
  }
  return CliParse::Run;
}

}  // namespace cli
