#include "stream_builder.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

extern "C" {
#include <x264.h>
}

#include "device/stamp_reader.h"

namespace devtest {

Bytes rtpPacket(std::uint16_t seq, bool marker, const Bytes& payload) {
  Bytes p(12, 0);
  p[0] = 0x80;
  p[1] = static_cast<std::uint8_t>(37 | (marker ? 0x80 : 0));
  p[2] = static_cast<std::uint8_t>(seq >> 8);
  p[3] = static_cast<std::uint8_t>(seq);
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

std::vector<Bytes> packetise(const std::vector<Bytes>& nals, std::uint16_t* seq, bool fragment) {
  std::vector<Bytes> out;
  for (std::size_t k = 0; k < nals.size(); ++k) {
    const Bytes& nal = nals[k];
    const bool lastUnit = k + 1 == nals.size();
    if (!fragment || nal.size() <= 1299) {
      out.push_back(rtpPacket(++*seq, lastUnit, nal));
      continue;
    }
    const std::uint8_t h = nal[0];
    for (std::size_t at = 1; at < nal.size(); at += 1298) {
      const std::size_t piece = std::min<std::size_t>(1298, nal.size() - at);
      const bool first = at == 1, last = at + piece == nal.size();
      Bytes payload{static_cast<std::uint8_t>((h & 0xE0) | 28),
                    static_cast<std::uint8_t>((first ? 0x80 : 0) | (last ? 0x40 : 0) | (h & 0x1F))};
      payload.insert(payload.end(), nal.begin() + static_cast<long>(at),
                     nal.begin() + static_cast<long>(at + piece));
      out.push_back(rtpPacket(++*seq, last && lastUnit, payload));
    }
  }
  return out;
}

Bytes annexB(const std::vector<Bytes>& nals) {
  Bytes out;
  for (const Bytes& n : nals) {
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), n.begin(), n.end());
  }
  return out;
}

void drawStamp(std::uint8_t* luma, int stride, int width, int height, std::uint32_t drawMs,
               std::uint16_t counter) {
  bool bits[64];
  device::stampBits(device::Stamp{drawMs, counter}, bits);
  const double cell = width / 64.0;
  const int rows = std::min(height, static_cast<int>(std::ceil(cell)));
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < width; ++x) {
      if (y >= cell) continue;
      int i = static_cast<int>(x / cell);
      luma[y * stride + x] = bits[i < 64 ? i : 63] ? 235 : 16;
    }
}

TestEncoder::TestEncoder(int width, int height, int fps, bool baseline)
    : width_(width), height_(height), planes_(static_cast<std::size_t>(width) * height * 3 / 2) {
  x264_param_t p;
  x264_param_default_preset(&p, "superfast", "zerolatency");
  p.i_width = width;
  p.i_height = height;
  p.i_fps_num = static_cast<std::uint32_t>(fps);
  p.i_fps_den = 1;
  p.i_threads = 1;
  p.i_keyint_max = 1 << 30;
  p.b_repeat_headers = 1;
  p.b_annexb = 1;
  p.i_bframe = 0;
  p.rc.i_rc_method = X264_RC_ABR;
  p.rc.i_bitrate = 1500;
  p.i_log_level = X264_LOG_NONE;
  if (baseline) p.i_slice_max_size = 1200;
  x264_param_apply_profile(&p, baseline ? "baseline" : "high");
  encoder_ = x264_encoder_open(&p);
  if (!encoder_) throw std::runtime_error("x264_encoder_open failed");
}

TestEncoder::~TestEncoder() {
  if (encoder_) x264_encoder_close(encoder_);
}

std::vector<Bytes> TestEncoder::encode(std::uint16_t counter, std::uint32_t stampMs, bool forceIdr) {
  std::uint8_t* y = planes_.data();
  std::uint8_t* u = y + width_ * height_;
  std::uint8_t* v = u + width_ * height_ / 4;
  for (int row = 0; row < height_; ++row)
    for (int x = 0; x < width_; ++x)
      y[row * width_ + x] = static_cast<std::uint8_t>(40 + (x + row + counter * 4) % 160);
  std::memset(u, 128, static_cast<std::size_t>(width_ * height_ / 4));
  std::memset(v, 128, static_cast<std::size_t>(width_ * height_ / 4));
  drawStamp(y, width_, width_, height_, stampMs, counter);

  x264_picture_t in, out;
  x264_picture_init(&in);
  in.img.i_csp = X264_CSP_I420;
  in.img.i_plane = 3;
  in.img.plane[0] = y;
  in.img.plane[1] = u;
  in.img.plane[2] = v;
  in.img.i_stride[0] = width_;
  in.img.i_stride[1] = in.img.i_stride[2] = width_ / 2;
  in.i_pts = pts_++;
  in.i_type = forceIdr ? X264_TYPE_IDR : X264_TYPE_AUTO;
  x264_nal_t* nals = nullptr;
  int count = 0;
  std::vector<Bytes> units;
  if (x264_encoder_encode(encoder_, &nals, &count, &in, &out) < 0) return units;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* p = nals[i].p_payload;
    int skip = p[2] == 1 ? 3 : 4;
    units.emplace_back(p + skip, p + nals[i].i_payload);
  }
  return units;
}

}  // namespace devtest
