#include "media/x264_encoder.h"

#include <cstdarg>
#include <cstdio>

#include "media/encoder_log.h"

namespace {

// H.264 Annex E, Table E-1: sample aspect ratios by aspect_ratio_idc 1..16.
constexpr SampleAspect kAnnexESar[17] = {
    {0, 0},   {1, 1},   {12, 11}, {10, 11}, {16, 11},  {40, 33}, {24, 11}, {20, 11}, {32, 11},
    {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3},   {3, 2},   {2, 1},
};

constexpr int kMaxAnnexEIdc = 16;
constexpr int kAspectMode4x3 = 1;
constexpr int kAspectModeExplicit = 3;

constexpr float kRateTolerance = 0.1f;
constexpr float kVbvBufferInit = 0.9f;
constexpr int kThreads = 2;
constexpr int kNoPeriodicKeyFrames = 1 << 30;
constexpr int kBaselineSliceMaxSize = 1200;
// Average-bitrate control spends the whole budget on any picture, a still
// one too: it lowers the quantiser towards 0 and keeps refining pictures
// nobody can tell apart, at the full bit rate. Below this quantiser a screen
// looks no better, so a still screen settles and costs next to nothing.
constexpr int kMinQuantiser = 16;

// The library's own messages: errors go to the error hook, the rest is
// dropped so the encoder stays as quiet as the rest of the media path.
void LibraryLog(void*, int level, const char* format, va_list args) {
  if (level > X264_LOG_ERROR) return;
  char message[512];
  vsnprintf(message, sizeof message, format, args);
  EncoderLogError("%s", message);
}

}  // namespace

X264Rate X264RateFor(int32_t bitrate) {
  float b = static_cast<float>(bitrate);
  if (b > 10000) b -= 10000;
  X264Rate rate;
  rate.kbps = static_cast<int>(b / 1000);
  rate.vbvKbps = static_cast<int>((b + 5000) / 1000);
  // Below 1 kbit/s the library refuses to open; its smallest rate is the
  // nearest it can do.
  if (rate.kbps < 1) rate.kbps = 1;
  if (rate.vbvKbps < 1) rate.vbvKbps = 1;
  return rate;
}

void ApplyX264Rate(x264_param_t* p, int32_t bitrate, int32_t frameRate) {
  X264Rate rate = X264RateFor(bitrate);
  p->rc.i_rc_method = X264_RC_ABR;
  p->rc.i_bitrate = rate.kbps;
  p->rc.f_rate_tolerance = kRateTolerance;
  p->rc.i_vbv_max_bitrate = rate.vbvKbps;
  p->rc.i_vbv_buffer_size = rate.vbvKbps;
  p->rc.f_vbv_buffer_init = kVbvBufferInit;
  p->i_fps_num = frameRate;
  p->i_fps_den = 1;
}

void FillX264Params(x264_param_t* p, int32_t profile, int32_t width, int32_t height,
                    int32_t bitrate, int32_t frameRate) {
  const bool high = profile == kProfileHigh;
  const bool baseline = profile == kProfileBaseline;
  // With these fixed names neither call can fail; if one did, the library
  // defaults left in place still give a usable stream.
  if (x264_param_default_preset(p, high ? "veryfast" : "superfast", nullptr) == 0) {
    x264_param_apply_fastfirstpass(p);
    p->analyse.i_weighted_pred = X264_WEIGHTP_NONE;
    if (x264_param_apply_profile(p, high ? "high" : "baseline") == 0) {
      p->i_threads = kThreads;
      // Both threads work on slices of the same picture: threads on
      // successive pictures would hold every picture back one frame period.
      p->b_sliced_threads = 1;
      // Pictures come at the fixed rate set below; taken as variable-rate
      // input, the library would hold each one until the next arrives.
      p->b_vfr_input = 0;
      p->i_sync_lookahead = 0;
      p->i_width = width;
      p->i_height = height;
      p->i_level_idc = -1;
      p->i_keyint_max = kNoPeriodicKeyFrames;
      p->i_slice_max_size = baseline ? kBaselineSliceMaxSize : 0;
      ApplyX264Rate(p, bitrate, frameRate);
      p->rc.i_qp_min = kMinQuantiser;
      p->b_repeat_headers = 1;
      p->b_annexb = 1;
      p->i_bframe = 0;
      p->rc.i_lookahead = 0;
      if (baseline) {
        p->analyse.b_transform_8x8 = 0;
        p->b_cabac = 0;
        p->i_cqm_preset = X264_CQM_FLAT;
      }
    }
  }
  p->pf_log = LibraryLog;
  p->p_log_private = nullptr;
}

SampleAspect ChooseSampleAspect(int32_t mode, int32_t limit, int32_t sarWidth, int32_t sarHeight,
                                int32_t width, int32_t height) {
  SampleAspect sar{1, 1};
  if (sarWidth > 0 && sarHeight > 0) sar = {sarWidth, sarHeight};
  if (limit == 0) return sar;
  if (mode == kAspectModeExplicit) {
    if (limit >= 1 && limit <= kMaxAnnexEIdc) sar = kAnnexESar[limit];
    return sar;
  }
  // The display shape the entry must give: 4:3 in mode 1, else 16:9.
  const int64_t shapeW = mode == kAspectMode4x3 ? 4 : 16;
  const int64_t shapeH = mode == kAspectMode4x3 ? 3 : 9;
  const int last = limit < kMaxAnnexEIdc ? limit : kMaxAnnexEIdc;
  for (int idc = 1; idc <= last; ++idc) {
    const SampleAspect& e = kAnnexESar[idc];
    if (int64_t{e.width} * width * shapeH == int64_t{e.height} * height * shapeW) return e;
  }
  return sar;
}

X264Encoder::X264Encoder(const EncoderConfig& config, OutBitStream* sink)
    : config_(config), packetiser_(sink) {
  // A rate below 1 cannot drive the library; keep to the session defaults.
  if (config_.word[EncoderConfig::kFrameRate] < 1)
    config_.word[EncoderConfig::kFrameRate] = kFallbackFrameRate;
  if (config_.word[EncoderConfig::kBitrate] < 1)
    config_.word[EncoderConfig::kBitrate] = kFallbackBitrate;
  bitrateCeiling_ = bitrate();
}

X264Encoder::~X264Encoder() { Close(); }

void X264Encoder::SetDefaultParams() {
  FillX264Params(&params_, profile(), config_.word[EncoderConfig::kWidth],
                 config_.word[EncoderConfig::kHeight], bitrate(), frameRate());
  useFragmentation_ = profile() != kProfileBaseline;
  EncoderLogInfo("enc %d enable_temporal_layer = %d.\n", id(),
                 config_.word[EncoderConfig::kTemporalLayer]);
}

bool X264Encoder::Open() {
  ++openAttempts_;
  bitrateCeiling_ = bitrate();
  SetDefaultParams();
  SampleAspect sar = ChooseSampleAspect(
      config_.word[EncoderConfig::kAspectMode], config_.word[EncoderConfig::kAspectIdcLimit],
      config_.word[EncoderConfig::kSarWidth], config_.word[EncoderConfig::kSarHeight],
      config_.word[EncoderConfig::kWidth], config_.word[EncoderConfig::kHeight]);
  params_.vui.i_sar_width = sar.width;
  params_.vui.i_sar_height = sar.height;
  // A picture without size cannot open; the library would also leak what
  // it set up before refusing it.
  const bool sized = params_.i_width > 0 && params_.i_height > 0;
  encoder_ = sized ? OpenLibrary(&params_) : nullptr;
  if (!encoder_) {
    EncoderLogError("Fail to create x264 encoder [%d].", id());
    return false;
  }
  // The packet buffer is allocated once and kept across reopens.
  if (!packetiser_.Allocate()) {
    Close();
    return false;
  }
  pts_ = 0;
  repeater_.Reset();
  settled_ = false;
  return true;
}

void X264Encoder::Close() {
  // Pictures still inside the library are dropped: no flush.
  if (encoder_) x264_encoder_close(encoder_);
  encoder_ = nullptr;
}

bool X264Encoder::Reopen() {
  Close();
  return Open();
}

// Follows a new bitrate or frame rate: a lower bitrate is reconfigured in
// place, a bitrate above the one the library was opened with or a new frame
// rate reopens it.
void X264Encoder::ApplyRateChange(const FrameEncodeParams& params) {
  const int32_t newBitrate = params.word[FrameEncodeParams::kBitrate];
  const int32_t newRate = params.word[FrameEncodeParams::kFrameRate];
  // Values below 1 are not rates: they keep the current ones.
  const bool bitrateChange = newBitrate > 0 && newBitrate != bitrate();
  const bool rateChange = newRate > 0 && newRate != frameRate();
  if (!bitrateChange && !rateChange) return;

  EncoderLogInfo("Enc[%d] original bitrate %d, new bitrate %d, frame rate (%d, %d).", id(),
                 params_.rc.i_bitrate, newBitrate, static_cast<int>(params_.i_fps_num), newRate);
  bool raise = false;
  if (bitrateChange) {
    config_.word[EncoderConfig::kBitrate] = newBitrate;
    raise = newBitrate > bitrateCeiling_;
  }
  if (rateChange) config_.word[EncoderConfig::kFrameRate] = newRate;
  ApplyX264Rate(&params_, bitrate(), frameRate());

  if (raise || rateChange || !encoder_) {
    Reopen();
    return;
  }
  if (ReconfigLibrary(encoder_, &params_) < 0)
    EncoderLogError("Enc[%d] x264_encoder_reconfig failed.", id());
}

bool X264Encoder::PictureFits(const FramePicture& pic) const {
  const int w = params_.i_width;
  const int h = params_.i_height;
  const int chromaW = (w + 1) / 2;
  return pic.y && pic.u && pic.v && pic.width == w && pic.height == h && pic.yStride >= w &&
         pic.uStride >= chromaW && pic.vStride >= chromaW;
}

void X264Encoder::Encode(const FramePicture* picture, const FrameEncodeParams* params) {
  const bool still = stillPicture_;
  stillPicture_ = false;
  settled_ = false;
  if (!picture || !params) return;
  const uint32_t attempts = openAttempts_;
  const int32_t code = params->word[FrameEncodeParams::kResolutionCode];
  if (code != config_.word[EncoderConfig::kResolutionCode]) {
    if (params->word[FrameEncodeParams::kBitrate] > 0)
      config_.word[EncoderConfig::kBitrate] = params->word[FrameEncodeParams::kBitrate];
    if (params->word[FrameEncodeParams::kFrameRate] > 0)
      config_.word[EncoderConfig::kFrameRate] = params->word[FrameEncodeParams::kFrameRate];
    config_.word[EncoderConfig::kResolutionCode] = code;
    Reopen();
  }
  ApplyRateChange(*params);
  // An earlier reopen failed: try once more with this picture, else drop it.
  if (!encoder_ && openAttempts_ == attempts) Reopen();
  if (!encoder_) return;
  // A picture of another size than the library's would be read out of bounds.
  if (!PictureFits(*picture)) return;

  x264_picture_t in;
  x264_picture_init(&in);
  in.i_pts = static_cast<int64_t>(pts_++);
  in.img.i_csp = X264_CSP_I420;
  in.img.i_plane = 3;
  in.img.plane[0] = const_cast<uint8_t*>(picture->y);
  in.img.plane[1] = const_cast<uint8_t*>(picture->u);
  in.img.plane[2] = const_cast<uint8_t*>(picture->v);
  in.img.i_stride[0] = picture->yStride;
  in.img.i_stride[1] = picture->uStride;
  in.img.i_stride[2] = picture->vStride;
  const bool idr = params->word[FrameEncodeParams::kIdrRequest] != 0 &&
                   params->word[FrameEncodeParams::kIdrRequest2] != 0;
  in.i_type = idr ? X264_TYPE_IDR : X264_TYPE_AUTO;

  x264_picture_t out;
  x264_nal_t* nals = nullptr;
  int count = 0;
  if (EncodeLibrary(encoder_, &nals, &count, &in, &out) < 0) {
    EncoderLogError("Enc[%d] x264_encoder_encode failed", id());
    return;
  }
  int64_t bytes = 0;
  for (int k = 0; k < count; ++k) bytes += nals[k].i_payload;
  // Settled: the still picture came out small at the quantiser floor, so
  // coding it again would add nothing (a small picture at a high quantiser
  // only means the rate control is short of bits, and quality is still to
  // come).
  const int64_t macroblocks = int64_t{(params_.i_width + 15) / 16} * ((params_.i_height + 15) / 16);
  settled_ = still && bytes <= macroblocks / 8 + 64 && out.i_qpplus1 - 1 <= params_.rc.i_qp_min + 1;
  if (useFragmentation_)
    SendNalUnitsFragmented(nals, count);
  else
    SendNalUnits(nals, count);
}

void X264Encoder::SendNalUnits(const x264_nal_t* nals, int count) {
  // The marker goes on the last packet of the picture.
  int last = count - 1;
  while (last >= 0 && !RtpPacketiser::SendsSingle(nals[last].p_payload, nals[last].i_payload)) --last;
  for (int k = 0; k <= last; ++k) {
    // Slices are renumbered after repeats, parameter sets read.
    int32_t size = 0;
    const uint8_t* unit = repeater_.Take(nals[k].p_payload, nals[k].i_payload, &size);
    packetiser_.SendSingle(unit, size, k == last);
  }
}

bool X264Encoder::Repeat(const FrameEncodeParams* params) {
  stillPicture_ = true;
  if (!encoder_ || !params || !settled_ || useFragmentation_) return false;
  // Anything new asked for goes through Encode.
  const int32_t* w = params->word;
  if (w[FrameEncodeParams::kIdrRequest] != 0 && w[FrameEncodeParams::kIdrRequest2] != 0) return false;
  if (w[FrameEncodeParams::kResolutionCode] != config_.word[EncoderConfig::kResolutionCode]) return false;
  if (w[FrameEncodeParams::kBitrate] > 0 && w[FrameEncodeParams::kBitrate] != bitrate()) return false;
  if (w[FrameEncodeParams::kFrameRate] > 0 && w[FrameEncodeParams::kFrameRate] != frameRate()) return false;
  int32_t size = 0;
  const uint8_t* unit = repeater_.Repeat(&size);
  if (!unit) return false;
  packetiser_.SendSingle(unit, size, true);
  return true;
}

void X264Encoder::SendNalUnitsFragmented(const x264_nal_t* nals, int count) {
  int last = count - 1;
  while (last >= 0 && !RtpPacketiser::SendsFragmented(nals[last].p_payload, nals[last].i_payload))
    --last;
  for (int k = 0; k <= last; ++k)
    packetiser_.SendFragmented(nals[k].p_payload, nals[k].i_payload, k == last);
}

EncoderConfig MakeEncoderConfig(const FrameEncodeParams& params, int32_t encoderId,
                                const EncoderLogHooks& hooks) {
  EncoderConfig config;
  config.word[EncoderConfig::kEncoderId] = encoderId;
  for (int i = 0; i < EncoderConfig::kCopiedParams; ++i) config.word[i + 2] = params.word[i];
  config.hooks = hooks;
  return config;
}

IVideoEncoder* CreateVideoEncoder(const EncoderConfig* config, OutBitStream* sink) {
  if (!config || !sink) return nullptr;
  SetEncoderLogHooks(config->hooks);
  X264Encoder* encoder = new X264Encoder(*config, sink);
  if (!encoder->Open()) {
    delete encoder;
    return nullptr;
  }
  return encoder;
}
