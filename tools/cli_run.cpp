#include "cli_run.h"

#include <chrono>
#include <cstdarg>
#include <cstring>

#include "event_queue.h"
#include "tdsdk.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// The password buffer that TDS_SetPassword copies whole.
constexpr std::size_t kPasswordBuffer = 64;
// The device port, fixed by the protocol.
constexpr int kDevicePort = 5001;
// The session reports a connect time-out 5 to 6 s after the attempt; when
// the attempt failed at once and not even that comes, the session could not
// start at all.
constexpr auto kNoVerdictLimit = std::chrono::seconds(9);
// A device that connects but neither accepts nor refuses is given up on.
constexpr auto kPairingLimit = std::chrono::seconds(20);
constexpr int kPollMs = 50;

struct CallbackContext {
  TDSdkHandle handle;
  EventQueue* queue;
};

// Runs on the session thread: queue the event, nothing more.
void TDS_CALL onSessionEvent(void* userData, int event, int value) {
  auto* ctx = static_cast<CallbackContext*>(userData);
  int reason = 0;
  if (event == SELECT_THREAD_EVENT_CONNSTATUS_CHANGE && value == TDH239_CONNECTION_REJECTED)
    reason = TDS_GetPairRejectedReason(ctx->handle);
  ctx->queue->push(SessionEvent{event, value, reason});
}

const char* h239Name(int status) {
  switch (status) {
    case TDH239_IDLE: return "idle";
    case TDH239_CONNECTED: return "connected";
    case TDH239_AUTHORIZED: return "authorized";
    case TDH239_ENCODING: return "encoding";
    case TDH239_DECODING: return "decoding";
    default: return "unknown";
  }
}

void say(std::FILE* f, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(f, format, args);
  va_end(args);
  std::fputc('\n', f);
  std::fflush(f);
}

}  // namespace

int runCli(const CliOptions& options, std::FILE* out, std::FILE* err,
           const std::atomic<bool>& interrupted) {
  TDSdkHandle handle = CreateTDSdkHandle();
  if (!handle) {
    say(err, "tandeo-cli: cannot create a session");
    return kExitError;
  }
  char password[kPasswordBuffer] = {};
  std::memcpy(password, options.password.data(),
              options.password.size() < kPasswordBuffer ? options.password.size() : kPasswordBuffer - 1);
  TDS_SetPassword(handle, password);

  EventQueue queue;
  CallbackContext ctx{handle, &queue};
  const char* address = options.address.c_str();
  say(out, "connecting to %s:%d", address, kDevicePort);
  const Clock::time_point started = Clock::now();
  const int attempt = TDS_AttemptToPair(handle, address, &ctx, onSessionEvent);

  int status = -1;
  bool paired = false, heardAnything = false;
  Clock::time_point endAt{};
  while (status < 0) {
    const Clock::time_point now = Clock::now();
    if (interrupted) {
      if (paired) {
        say(out, "interrupted");
        status = kExitPairedAndEnded;
      } else {
        say(err, "tandeo-cli: interrupted before pairing");
        status = kExitError;
      }
      break;
    }
    if (paired && options.durationSeconds >= 0 && now >= endAt) {
      status = kExitPairedAndEnded;
      break;
    }
    if (!paired && !heardAnything && attempt == TDS_FAILED && now - started > kNoVerdictLimit) {
      say(err, "tandeo-cli: the connection to %s could not be started", address);
      status = kExitError;
      break;
    }
    if (!paired && now - started > kPairingLimit) {
      say(out, "no pairing answer from the device within %d s",
          int(std::chrono::duration_cast<std::chrono::seconds>(kPairingLimit).count()));
      status = kExitConnectTimeout;
      break;
    }

    SessionEvent e;
    if (!queue.pop(&e, kPollMs)) continue;
    heardAnything = true;
    switch (e.event) {
      case SELECT_THREAD_EVENT_CONNSTATUS_CHANGE:
        switch (e.value) {
          case TDH239_CONNECTION_OK:
            say(out, "paired with %s", address);
            paired = true;
            endAt = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(options.durationSeconds));
            if (options.share) say(out, "share: not available yet");
            break;
          case TDH239_CONNECTION_REJECTED:
            say(out, "rejected by the device, reason %d", e.rejectedReason);
            status = kExitRejected;
            break;
          case TDH239_CONNECTING_TIMEOUT:
            say(out, "connect time-out: no device answered at %s:%d", address, kDevicePort);
            status = kExitConnectTimeout;
            break;
          case TDH239_CONNECTION_CLOSE:
            say(out, "connection lost");
            status = kExitConnectionLost;
            break;
          default:
            say(out, "connection status %d", e.value);
        }
        break;
      case SELECT_THREAD_EVENT_H239STATUS_CHANGE:
        say(out, "status: %s", h239Name(e.value));
        break;
      case SELECT_THREAD_EVENT_START_ENC:
        say(out, "encoding started");
        break;
      case SELECT_THREAD_EVENT_STOP_ENC:
        say(out, "encoding stopped");
        break;
      default:
        say(out, "event %d, value %d", e.event, e.value);
    }
  }

  TDS_Disconnect(handle);
  if (status == kExitPairedAndEnded) say(out, "disconnected");
  DestroyTDSdkHandle(handle);
  return status;
}

}  // namespace cli
