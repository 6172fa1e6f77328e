#include "platform/window_message.h"

namespace plat {

// X11 and Wayland have no DPI-change message: the screens' signals carry it.
bool dpiChangedMessage(const char*, const void*, int*) { return false; }

}  // namespace plat
