// The process's environment, for settings that libraries read from it.
#pragma once

namespace plat {

// Sets (overwrites) an environment variable of this process; false on error.
bool setEnvironmentVariable(const char* name, const char* value);

// Tells the system that this process sizes itself for the screens' DPI, so
// that screen metrics and grabs are in real pixels, not in those of a
// 96-dpi screen scaled up (Windows does that to programs that do not say
// so). Call first thing in a program without a window toolkit (Qt says it
// itself); a no-op where the system scales nothing behind a program's back.
void declareDpiAware();

}  // namespace plat
