#include "media/encoder_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {

// Info lines are written at level 1 and below; the level is fixed.
constexpr int kInfoLevel = 1;
constexpr int kEncoderLogLevel = 1;
constexpr size_t kMaxMessage = 512;

// Encoders are created and used on the codec thread, but the hooks are
// process-wide, so keep each pointer whole for any other reader.
std::atomic<void*> g_context{nullptr};
std::atomic<EncoderLogFn> g_info{nullptr};
std::atomic<EncoderLogFn> g_error{nullptr};

void Write(EncoderLogFn fn, const char* format, va_list args) {
  char message[kMaxMessage];
  vsnprintf(message, sizeof message, format, args);
  fn(g_context.load(), message);
}

}  // namespace

void SetEncoderLogHooks(const EncoderLogHooks& hooks) {
  g_context.store(hooks.context);
  g_info.store(hooks.info);
  g_error.store(hooks.error);
}

void EncoderLogInfo(const char* format, ...) {
  EncoderLogFn fn = g_info.load();
  if (!fn || kEncoderLogLevel > kInfoLevel) return;
  va_list args;
  va_start(args, format);
  Write(fn, format, args);
  va_end(args);
}

void EncoderLogError(const char* format, ...) {
  EncoderLogFn fn = g_error.load();
  if (!fn) return;
  va_list args;
  va_start(args, format);
  Write(fn, format, args);
  va_end(args);
}
