#include "platform/thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <new>

namespace plat {

namespace {
struct Trampoline {
  ThreadProc proc;
  void* arg;
};

void* run(void* p) {
  Trampoline t = *static_cast<Trampoline*>(p);
  delete static_cast<Trampoline*>(p);
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(t.proc(t.arg)));
}
}  // namespace

Thread startThread(ThreadProc proc, void* arg) {
  Thread t;
  auto* tr = new (std::nothrow) Trampoline{proc, arg};
  auto* h = new (std::nothrow) pthread_t;
  if (!tr || !h || pthread_create(h, nullptr, run, tr) != 0) {
    delete tr;
    delete h;
    return t;
  }
  t.handle = h;
  // The kernel id is known only inside the thread; a stable per-handle value
  // serves callers that merely compare ids.
  t.id = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(h) >> 4);
  return t;
}

void joinThread(Thread& t) {
  if (!t.handle) return;
  auto* h = static_cast<pthread_t*>(t.handle);
  pthread_join(*h, nullptr);
  delete h;
  t.handle = nullptr;
  t.id = 0;
}

std::uint32_t currentThreadId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }

void sleepMs(int ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace plat
