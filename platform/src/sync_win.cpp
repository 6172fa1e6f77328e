// Win32 back-end of the locks and events: critical sections and auto-reset
// event objects.
#include <windows.h>

#include <new>

#include "platform/sync.h"

namespace plat {

namespace {
CRITICAL_SECTION* Section(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }
}  // namespace

CriticalSection::CriticalSection() {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof section_, "the critical section must fit in place");
  static_assert(alignof(CRITICAL_SECTION) <= alignof(void*), "the critical section must be aligned");
  InitializeCriticalSection(new (section_) CRITICAL_SECTION);
}

CriticalSection::~CriticalSection() { DeleteCriticalSection(Section(section_)); }

void CriticalSection::enter() { EnterCriticalSection(Section(section_)); }
void CriticalSection::leave() { LeaveCriticalSection(Section(section_)); }

// Auto-reset, initially clear, unnamed.
AutoResetEvent::AutoResetEvent() : handle_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

AutoResetEvent::~AutoResetEvent() {
  if (handle_) CloseHandle(handle_);
}

void AutoResetEvent::set() {
  if (handle_) SetEvent(handle_);
}

bool AutoResetEvent::wait(int timeoutMs) {
  if (!handle_) return false;
  const DWORD ms = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  return WaitForSingleObject(handle_, ms) == WAIT_OBJECT_0;
}

}  // namespace plat
