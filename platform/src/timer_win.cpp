// Win32 back-end of the periodic timer: the multimedia timer, whose own
// thread sets the event at every period.
#include <windows.h>
#include <mmsystem.h>

#include "platform/timer.h"

namespace plat {

namespace {
// The timer's resolution, as the codec thread's pacing needs it: finer than
// the usual 15.6 ms system tick, so that a 33 ms period does not alternate
// between 31 and 47 ms.
constexpr UINT kResolutionMs = 10;

void CALLBACK Tick(UINT, UINT, DWORD_PTR event, DWORD_PTR, DWORD_PTR) {
  reinterpret_cast<AutoResetEvent*>(event)->set();
}
}  // namespace

bool PeriodicTimer::start(int periodMs, AutoResetEvent* event) {
  stop();
  if (periodMs < 1) periodMs = 1;
  resolutionMs_ = timeBeginPeriod(kResolutionMs) == TIMERR_NOERROR ? kResolutionMs : 0;
  // Killed synchronously: once timeKillEvent returns, no tick is running or
  // will run, so the event may go away with the caller.
  timerId_ = timeSetEvent(static_cast<UINT>(periodMs), kResolutionMs, &Tick, reinterpret_cast<DWORD_PTR>(event),
                          TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
  if (timerId_ == 0) {
    stop();
    return false;
  }
  return true;
}

void PeriodicTimer::stop() {
  if (timerId_ != 0) timeKillEvent(timerId_);
  timerId_ = 0;
  if (resolutionMs_ != 0) timeEndPeriod(resolutionMs_);
  resolutionMs_ = 0;
}

}  // namespace plat
