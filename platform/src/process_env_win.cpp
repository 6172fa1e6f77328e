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

void declareDpiAware() {
  // Per-monitor awareness where the system has it (Windows 10 1703 and
  // later), else system-wide awareness (Vista and later).
  using SetContext = BOOL(WINAPI*)(HANDLE);
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  // Through void*: GetProcAddress's generic pointer type is not the function's.
  const auto setContext = user32 ? reinterpret_cast<SetContext>(reinterpret_cast<void*>(
                                       GetProcAddress(user32, "SetProcessDpiAwarenessContext")))
                                 : nullptr;
  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  if (setContext && setContext(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4)))) return;
  SetProcessDPIAware();
}

}  // namespace plat
