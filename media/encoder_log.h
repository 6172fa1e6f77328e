// The encoder's log lines, written through hooks the creator installs.
#ifndef TANDEO_MEDIA_ENCODER_LOG_H
#define TANDEO_MEDIA_ENCODER_LOG_H

#include "media/video_encoder.h"

// Replaces the process-wide hooks (the last encoder created wins).
void SetEncoderLogHooks(const EncoderLogHooks& hooks);

// printf-style; messages are cut at 511 characters.
void EncoderLogInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void EncoderLogError(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // TANDEO_MEDIA_ENCODER_LOG_H
