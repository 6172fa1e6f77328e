// tandeo-device: the reference device on the command line.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "device/device.h"
#include "device/display.h"
#include "device/picture_handoff.h"
#include "platform/thread.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
extern "C" void onSignal(int) { stopRequested = 1; }
}  // namespace

int main(int argc, char** argv) {
  device::DeviceOptions options;
  std::string error;
  switch (device::parseDeviceOptions(argc, argv, &options, &error)) {
    case device::ParseOutcome::Help:
      std::fputs(device::deviceUsage().c_str(), stdout);
      return 0;
    case device::ParseOutcome::Error:
      std::fprintf(stderr, "tandeo-device: %s\n%s", error.c_str(), device::deviceUsage().c_str());
      return 1;
    case device::ParseOutcome::Run:
      break;
  }
  std::unique_ptr<device::PictureHandoff> handoff;
  if (options.display) {
    if (!device::displayAvailable(&error)) {
      std::fprintf(stderr, "tandeo-device: %s\n", error.c_str());
      return 1;
    }
    handoff.reset(new device::PictureHandoff);
    options.onPicture = [&handoff](const device::DecodedFrame& f) { handoff->put(f); };
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);

  device::Device dev(options);
  if (!dev.start(&error)) {
    std::fprintf(stderr, "tandeo-device: %s\n", error.c_str());
    return 1;
  }
  int code = 0;
  if (handoff)
    code = device::runDisplay(*handoff, [] { return stopRequested != 0; });  // until closed or interrupted
  else
    while (!stopRequested) plat::sleepMs(50);
  dev.stop();
  return code;
}
