// The --display window of tandeo-device, behind a plain interface so that
// neither the device library nor the program's main needs Qt. A build
// without the GUI answers that it has no display.
#pragma once
#include <functional>
#include <string>

#include "device/picture_handoff.h"

namespace device {

// False, with the reason, when no window can be shown (no X display can be
// reached, or this build has no display).
bool displayAvailable(std::string* why);
// Shows the pictures put into `handoff` until the window is closed or
// `stopRequested` turns true; returns the program's exit code.
int runDisplay(PictureHandoff& handoff, const std::function<bool()>& stopRequested);

}  // namespace device
