// Win32 back-end of the process environment.
#include <windows.h>
#include <stdlib.h>

#include "platform/process_env.h"

namespace plat {

// Both copies of the environment: the C runtime's, which getenv reads, and
// the process's own, which Win32 readers and child processes see.
bool setEnvironmentVariable(const char* name, const char* value) {
  return _putenv_s(name, value) == 0 && SetEnvironmentVariableA(name, value) != 0;
}

}  // namespace plat
