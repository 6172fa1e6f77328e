// Native window messages that the windows react to, read without the
// window system's headers above this layer.
#pragma once

namespace plat {

// The message a window's native-event hook received: when it is the
// DPI-change notification (WM_DPICHANGED), true with the new X-axis DPI in
// *dpi. eventType is Qt's name for the message kind; systems without such a
// message always answer false.
bool dpiChangedMessage(const char* eventType, const void* message, int* dpi);

}  // namespace plat
