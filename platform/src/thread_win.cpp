// Win32 back-end of the threads: _beginthreadex, so that the C runtime
// sets up its per-thread state, and a start record the new thread frees.
#include <windows.h>
#include <process.h>

#include <new>

#include "platform/thread.h"

namespace plat {

namespace {
struct StartRecord {
  ThreadProc proc;
  void* arg;
};

unsigned __stdcall Run(void* p) {
  StartRecord record = *static_cast<StartRecord*>(p);
  delete static_cast<StartRecord*>(p);
  return record.proc(record.arg);
}
}  // namespace

Thread startThread(ThreadProc proc, void* arg) {
  Thread t;
  auto* record = new (std::nothrow) StartRecord{proc, arg};
  if (!record) return t;
  unsigned id = 0;
  const std::uintptr_t h = _beginthreadex(nullptr, 0, &Run, record, 0, &id);
  if (h == 0) {
    delete record;
    return t;
  }
  t.handle = reinterpret_cast<void*>(h);
  t.id = id;
  return t;
}

void joinThread(Thread& t) {
  if (!t.handle) return;
  WaitForSingleObject(t.handle, INFINITE);
  CloseHandle(t.handle);
  t.handle = nullptr;
  t.id = 0;
}

std::uint32_t currentThreadId() { return GetCurrentThreadId(); }

void sleepMs(int ms) { Sleep(ms < 0 ? 0 : static_cast<DWORD>(ms)); }

}  // namespace plat
