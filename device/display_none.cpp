// tandeo-device built without the GUI: --display is refused.
#include "device/display.h"

namespace device {

bool displayAvailable(std::string* why) {
  *why = "--display is not available: this tandeo-device was built without the Qt window";
  return false;
}

int runDisplay(PictureHandoff&, const std::function<bool()>&) { return 1; }

}  // namespace device
