#include "media/tests/encoder_test_util.h"


FrameEncodeParams TestParams(int width, int height, int code, int profile, int bitrate, int fps) {
  FrameEncodeParams p;
  p.word[FrameEncodeParams::kBitrate] = bitrate;
  p.word[FrameEncodeParams::kFrameRate] = fps;
  p.word[FrameEncodeParams::kMaxPacketSize] = 1400;
  p.word[FrameEncodeParams::kResolutionCode] = code;
  p.word[FrameEncodeParams::kWidth] = width;
  p.word[FrameEncodeParams::kHeight] = height;
  p.word[FrameEncodeParams::kAspectMode] = 2;
  p.word[FrameEncodeParams::kAspectIdcLimit] = 255;
  p.word[FrameEncodeParams::kSarWidth] = 1;
  p.word[FrameEncodeParams::kSarHeight] = 1;
  p.word[FrameEncodeParams::kEncodingMode] = 3;
  p.word[FrameEncodeParams::kProfile] = profile;
  return p;
}

x264_t* WatchedX264Encoder::OpenLibrary(x264_param_t* params) {
  ++opens;
  if (failOpens > 0) {
    --failOpens;
    return nullptr;
  }
  return X264Encoder::OpenLibrary(params);
}

int WatchedX264Encoder::ReconfigLibrary(x264_t* encoder, x264_param_t* params) {
  ++reconfigs;
  reconfigKbps.push_back(params->rc.i_bitrate);
  if (failReconfigs > 0) {
    --failReconfigs;
    return -1;
  }
  return X264Encoder::ReconfigLibrary(encoder, params);
}

int WatchedX264Encoder::EncodeLibrary(x264_t* encoder, x264_nal_t** nals, int* count,
                                      x264_picture_t* in, x264_picture_t* out) {
  int rc = X264Encoder::EncodeLibrary(encoder, nals, count, in, out);
  for (int i = 0; rc >= 0 && i < *count; ++i) {
    const uint8_t* d = (*nals)[i].p_payload;
    size_t n = size_t((*nals)[i].i_payload);
    // Skip the start code: its zeros, then the 1.
    size_t s = 0;
    while (s < n && d[s] == 0) ++s;
    if (s < n && d[s] == 1) ++s;
    produced.emplace_back(d + s, d + n);
  }
  return rc;
}
