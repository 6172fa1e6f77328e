#include <windows.h>

#include <cstring>

#include "platform/window_message.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace plat {

bool dpiChangedMessage(const char* eventType, const void* message, int* dpi) {
  if (!eventType || !message || std::strcmp(eventType, "windows_generic_MSG") != 0) return false;
  const MSG* msg = static_cast<const MSG*>(message);
  if (msg->message != WM_DPICHANGED) return false;
  // wParam: the Y-axis DPI in the high word, the X-axis DPI in the low word.
  *dpi = LOWORD(msg->wParam);
  return true;
}

}  // namespace plat
