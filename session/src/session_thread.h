#pragma once
#include <atomic>
#include <cstdint>

#include "handlers.h"
#include "platform/net.h"

class CH239Info;

// Start record of the session thread; the thread frees it.
struct SessionThreadStart {
  void* userData;
  SelectThreadCallbackFn callback;
  std::atomic<std::int32_t>* running;
  plat::Socket socket;
  CH239Info* session;
};

std::uint32_t SelectThread(void* start);
