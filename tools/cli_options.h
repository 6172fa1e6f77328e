// The command line of tandeo-cli.
#pragma once
#include <string>

namespace cli {

struct CliOptions {
  std::string address;    // dotted IPv4
  std::string password;   // at most 63 characters; empty: none
  bool share = false;
  bool verbose = false;  // the session's own log lines on stderr too
  double durationSeconds = -1;  // < 0: until interrupted
};

enum class CliParse { Run, Help, Error };

CliParse parseCliOptions(int argc, char** argv, CliOptions* options, std::string* error);
std::string cliUsage();
// True for four dot-separated decimal numbers 0..255.
bool isDottedIPv4(const std::string& text);

}  // namespace cli
