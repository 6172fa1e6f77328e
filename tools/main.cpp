// tandeo-cli: the headless sender.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "cli_options.h"
#include "cli_run.h"
#include "platform/process_env.h"

namespace {
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
extern "C" void onSignal(int) { interrupted = true; }
}  // namespace

int main(int argc, char** argv) {
  // The screen it shares in real pixels, also on a scaled Windows display.
  plat::declareDpiAware();
  cli::CliOptions options;
  std::string error;
  switch (cli::parseCliOptions(argc, argv, &options, &error)) {
    case cli::CliParse::Help:
      std::fputs(cli::cliUsage().c_str(), stdout);
      return cli::kExitPairedAndEnded;
    case cli::CliParse::Error:
      std::fprintf(stderr, "tandeo-cli: %s\n%s", error.c_str(), cli::cliUsage().c_str());
      return cli::kExitError;
    case cli::CliParse::Run:
      break;
  }
  // The session library logs through Qt's message streams, which read
  // their rules once, at the first line; without --verbose only the
  // program's own lines are printed.
  if (!options.verbose)
    plat::setEnvironmentVariable("QT_LOGGING_RULES", "*.debug=false;*.info=false;*.warning=false");
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  return cli::runCli(options, stdout, stderr, interrupted);
}
