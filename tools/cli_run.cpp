#include "cli_run.h"

#include <chrono>
#include <cstdarg>
#include <cstring>

#include "event_queue.h"
#include "platform/screen_cast.h"
#include "platform/screen_metrics.h"
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
// A device that does not answer the start request is reported once.
constexpr auto kStartAckLimit = std::chrono::seconds(5);
// How long a stop request waits for the device's acknowledgement.
constexpr auto kStopAckLimit = std::chrono::seconds(2);

// Where a --share run stands.
enum class Share { None, Starting, Streaming, Stopping };

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

// With --share: the whole primary screen is what the session grabs. False
// when there is no display to read it from.
bool shareWholeScreen(TDSdkHandle handle, std::FILE* out) {
  if (plat::ChooseCaptureBackend().backend == plat::CaptureBackend::Portal) {
    // The portal hands out the monitor that the user grants, at its size.
    say(out, "sharing the screen through the desktop portal");
    return true;
  }
  plat::ScreenMetrics screens;
  if (!plat::QueryScreenMetrics(&screens)) {
    say(out, "no X display: the stream will carry a still black picture");
    return false;
  }
  const plat::ScreenRect& p = screens.primary;
  TDS_SetSysMetric(handle, p.right - p.left, p.bottom - p.top);
  CaptureHandler capture = TDS_GetSetCaptureHandler(handle);
  const TDS_RECT area{p.left, p.top, p.right, p.bottom};
  capture.setCaptureArea(capture.capture, &area);
  say(out, "sharing the screen: %dx%d at %d,%d", int(p.right - p.left), int(p.bottom - p.top), int(p.left),
      int(p.top));
  return true;
}

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

Clock::time_point after(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
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
  if (options.share) shareWholeScreen(handle, out);

  EventQueue queue;
  CallbackContext ctx{handle, &queue};
  const char* address = options.address.c_str();
  say(out, "connecting to %s:%d", address, kDevicePort);
  const Clock::time_point started = Clock::now();
  const int attempt = TDS_AttemptToPair(handle, address, &ctx, onSessionEvent);

  const bool timed = options.durationSeconds >= 0;
  int status = -1;
  bool paired = false, heardAnything = false;
  Share share = Share::None;
  bool startAnswerMissing = false;
  bool captureRefused = false;
  Clock::time_point endAt{}, startRequestedAt{}, streamStartedAt{}, stopRequestedAt{}, stopDeadline{};

  // Asks the device to stop the stream; the run ends on its acknowledgement
  // or when kStopAckLimit has passed without one.
  auto requestStop = [&] {
    TDS_ReqToStopEncoding(handle);
    say(out, "stopping the stream");
    share = Share::Stopping;
    stopRequestedAt = Clock::now();
    stopDeadline = stopRequestedAt + kStopAckLimit;
  };

  while (status < 0) {
    const Clock::time_point now = Clock::now();
    if (share == Share::Stopping) {
      if (now >= stopDeadline) {
        say(out, "no stop acknowledgement from the device within %d s",
            int(std::chrono::duration_cast<std::chrono::seconds>(kStopAckLimit).count()));
        status = kExitPairedAndEnded;
        break;
      }
    } else if (interrupted) {
      if (share == Share::Streaming) {
        say(out, "interrupted");
        requestStop();
        continue;
      }
      if (paired) {
        say(out, "interrupted");
        status = kExitPairedAndEnded;
      } else {
        say(err, "tandeo-cli: interrupted before pairing");
        status = kExitError;
      }
      break;
    } else if (paired && timed && now >= endAt) {
      if (share == Share::Streaming) {
        requestStop();
        continue;
      }
      if (share == Share::Starting) {
        // Asked to share, and nothing was shared: not a normal end.
        say(err, "tandeo-cli: the device never answered the start request");
        status = kExitError;
      } else {
        status = kExitPairedAndEnded;
      }
      break;
    }
    if (share == Share::Starting && !startAnswerMissing && now - startRequestedAt > kStartAckLimit) {
      say(out, "no answer to the start request within %d s; still waiting",
          int(std::chrono::duration_cast<std::chrono::seconds>(kStartAckLimit).count()));
      startAnswerMissing = true;
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
            endAt = after(options.durationSeconds);
            if (options.share) {
              TDS_ReqToStartEncoding(handle);
              say(out, "requesting the stream");
              share = Share::Starting;
              startRequestedAt = Clock::now();
            }
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
            if (share == Share::Streaming || share == Share::Stopping)
              say(out, "stream ended after %.1f s", secondsSince(streamStartedAt));
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
        // The session keeps the device's parameters to itself; its own log
        // line names the picture size it captures at.
        say(out, "stream started: encoding at the size, rate and bit rate the device asked for");
        share = Share::Streaming;
        streamStartedAt = Clock::now();
        endAt = after(options.durationSeconds);
        break;
      case SELECT_THREAD_EVENT_CAPTURE_REFUSED:
        // The session has asked the device to stop; its acknowledgement ends
        // the run, still paired.
        say(out, "screen sharing not permitted: the desktop declined to hand out the screen");
        captureRefused = true;
        share = Share::Stopping;
        stopDeadline = Clock::now() + kStopAckLimit;
        break;
      case SELECT_THREAD_EVENT_STOP_ENC:
        if (captureRefused) {
          say(out, "stream stopped, still paired");
        } else if (share == Share::Stopping) {
          say(out, "stream stopped after %.1f s, acknowledged in %.0f ms", secondsSince(streamStartedAt),
              secondsSince(stopRequestedAt) * 1000);
        } else {
          say(out, "the device stopped the stream after %.1f s", secondsSince(streamStartedAt));
        }
        share = Share::None;
        status = captureRefused ? kExitError : kExitPairedAndEnded;
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
