// One run of the headless sender: pair with a device through the session
// interface, print one line per session event, end on the device's verdict,
// after the duration, or when interrupted.
#pragma once
#include <atomic>
#include <cstdio>

#include "cli_options.h"

namespace cli {

enum ExitStatus {
  kExitPairedAndEnded = 0,
  kExitError = 1,
  kExitRejected = 2,
  kExitConnectTimeout = 3,
  kExitConnectionLost = 4,
};

// Event lines go to `out`, errors to `err`. `interrupted` is polled (a
// signal handler sets it); once set, the run disconnects and ends.
int runCli(const CliOptions& options, std::FILE* out, std::FILE* err,
           const std::atomic<bool>& interrupted);

}  // namespace cli
