// The video encoder as the codec thread sees it: a picture and its per-frame
// parameters go in, RTP packets come out through a sink during the call.
#ifndef TANDEO_MEDIA_VIDEO_ENCODER_H
#define TANDEO_MEDIA_VIDEO_ENCODER_H

#include <cstdint>

// One I420 picture; the planes belong to whoever fills it.
struct FramePicture {
  const uint8_t* y = nullptr;
  const uint8_t* u = nullptr;
  const uint8_t* v = nullptr;
  int32_t yStride = 0;
  int32_t uStride = 0;
  int32_t vStride = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t width2 = 0;  // the width once more
};

// The per-frame parameter record: 126 words, of which these carry meaning.
// Everything else is 0.
struct FrameEncodeParams {
  enum Word : int {
    kBitrate = 2,          // bits per second
    kFrameRate = 3,        // frames per second
    kMaxPacketSize = 4,    // carried only: packet sizes are fixed
    kResolutionCode = 5,   // a change reopens the encoder
    kWidth = 6,
    kHeight = 7,
    kAspectMode = 8,       // 1: 4:3 display, 3: explicit idc, other: 16:9
    kAspectIdcLimit = 9,
    kSarWidth = 10,
    kSarHeight = 11,
    kEncodingMode = 12,
    kProfile = 31,         // 66 baseline, 100 high
    kTemporalLayer = 33,
    kIdrRequest = 58,      // an IDR picture is forced when both are non-zero
    kIdrRequest2 = 59,
  };
  static constexpr int kWords = 126;
  int32_t word[kWords] = {};
};

constexpr int32_t kProfileBaseline = 66;
constexpr int32_t kProfileHigh = 100;

// Where the encoder's log lines go. Installed process-wide by
// CreateVideoEncoder; the last creation wins. Null functions write nothing.
using EncoderLogFn = void (*)(void* context, const char* message);
struct EncoderLogHooks {
  void* context = nullptr;
  EncoderLogFn info = nullptr;
  EncoderLogFn error = nullptr;
};

// What an encoder is created with. Words 2 to 59 are words 0 to 57 of the
// FrameEncodeParams it starts from; the log hooks follow the words.
struct EncoderConfig {
  enum Word : int {
    kEncoderId = 0,  // shown in log lines
    kBitrate = FrameEncodeParams::kBitrate + 2,
    kFrameRate = FrameEncodeParams::kFrameRate + 2,
    kResolutionCode = FrameEncodeParams::kResolutionCode + 2,
    kWidth = FrameEncodeParams::kWidth + 2,
    kHeight = FrameEncodeParams::kHeight + 2,
    kAspectMode = FrameEncodeParams::kAspectMode + 2,
    kAspectIdcLimit = FrameEncodeParams::kAspectIdcLimit + 2,
    kSarWidth = FrameEncodeParams::kSarWidth + 2,
    kSarHeight = FrameEncodeParams::kSarHeight + 2,
    kProfile = FrameEncodeParams::kProfile + 2,
    kTemporalLayer = FrameEncodeParams::kTemporalLayer + 2,
  };
  static constexpr int kWords = 62;
  static constexpr int kCopiedParams = 58;  // params words 0..57 -> words 2..59
  int32_t word[kWords] = {};
  EncoderLogHooks hooks;
};

// Builds the creation record from the frame parameters in force.
EncoderConfig MakeEncoderConfig(const FrameEncodeParams& params, int32_t encoderId = 0,
                                const EncoderLogHooks& hooks = EncoderLogHooks());

// The packet sink. Write is called once per RTP packet, with bytes 2 to 11
// of the header (sequence number, timestamp, source) left for the sink.
class OutBitStream {
 public:
  virtual ~OutBitStream() = default;
  virtual int32_t Write(const uint8_t* data, int32_t length) = 0;
  // Two hooks other encoders may use; nothing in this system calls them.
  virtual void Reserved0(int32_t) {}
  virtual void Reserved1(int32_t) {}
};

struct IVideoEncoder {
  virtual ~IVideoEncoder() = default;
  // Encodes one picture; its packets go to the sink before this returns.
  virtual void Encode(const FramePicture* picture, const FrameEncodeParams* params) = 0;
  // For a picture that is the one encoded last: sends a picture that shows
  // it again without encoding it, when this encoder can and the parameters
  // ask for nothing new. False when the caller must Encode it instead.
  virtual bool Repeat(const FrameEncodeParams* params) {
    (void)params;
    return false;
  }
};

// Creates and opens an encoder writing to `sink` (not owned). Null when the
// library encoder cannot be opened. The caller deletes the result.
IVideoEncoder* CreateVideoEncoder(const EncoderConfig* config, OutBitStream* sink);

#endif  // TANDEO_MEDIA_VIDEO_ENCODER_H
