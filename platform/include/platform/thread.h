// Operating-system threads, started with a start record the thread frees.
#pragma once
#include <cstdint>

namespace plat {

using ThreadProc = std::uint32_t (*)(void* startRecord);

struct Thread {
  void* handle = nullptr;  // null: no thread
  std::uint32_t id = 0;
  bool valid() const { return handle != nullptr; }
};

// Starts proc(arg) on a new thread. Returns an invalid Thread on failure,
// in which case arg is untouched and still belongs to the caller.
Thread startThread(ThreadProc proc, void* arg);
// Waits without time limit for the thread to end and releases its handle;
// t becomes invalid. Does nothing for an invalid Thread.
void joinThread(Thread& t);
// The calling thread's id, comparable with Thread::id.
std::uint32_t currentThreadId();
void sleepMs(int ms);

}  // namespace plat
