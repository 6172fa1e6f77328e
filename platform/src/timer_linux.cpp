#include "platform/timer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace plat {

bool PeriodicTimer::start(int periodMs, AutoResetEvent* event) {
  stop();
  if (periodMs < 1) periodMs = 1;
  timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  itimerspec spec{};
  spec.it_interval.tv_sec = periodMs / 1000;
  spec.it_interval.tv_nsec = (periodMs % 1000) * 1000000L;
  spec.it_value = spec.it_interval;
  event_ = event;
  if (timerFd_ < 0 || stopFd_ < 0 || timerfd_settime(timerFd_, 0, &spec, nullptr) != 0 ||
      !(thread_ = startThread(&PeriodicTimer::Run, this)).valid()) {
    stop();
    return false;
  }
  return true;
}

void PeriodicTimer::stop() {
  if (thread_.valid()) {
    std::uint64_t one = 1;
    (void)!write(stopFd_, &one, sizeof one);
    joinThread(thread_);
  }
  if (timerFd_ >= 0) close(timerFd_);
  if (stopFd_ >= 0) close(stopFd_);
  timerFd_ = stopFd_ = -1;
}

std::uint32_t PeriodicTimer::Run(void* p) {
  auto* self = static_cast<PeriodicTimer*>(p);
  pollfd fds[2] = {{self->timerFd_, POLLIN, 0}, {self->stopFd_, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return 0;
    if (fds[0].revents) {
      std::uint64_t expirations;
      // Expirations that came while the event was already set fold into one,
      // as with any auto-reset event.
      if (read(self->timerFd_, &expirations, sizeof expirations) == sizeof expirations) self->event_->set();
    }
  }
}

}  // namespace plat
