#include "media/picture_repeater.h"

#include <algorithm>
#include <cstring>

#include "tdwire.h"

namespace {

constexpr int kNalSlice = 1;
constexpr int kNalIdr = TD_NAL_TYPE_IDR;
constexpr int kNalSps = TD_NAL_TYPE_SPS;
constexpr int kNalPps = TD_NAL_TYPE_PPS;
constexpr int32_t kMaxRbsp = PictureRepeater::kMaxUnit;
constexpr int32_t kHeaderBytes = 16;  // holds a slice header up to its frame number

// Exp-Golomb and fixed-width fields of an unescaped payload.
class BitReader {
 public:
  BitReader(const uint8_t* data, int32_t size) : data_(data), bits_(static_cast<int64_t>(size) * 8) {}
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 1 | Bit();
    return v;
  }
  uint32_t Bit() {
    if (pos_ >= bits_) {
      ok_ = false;
      return 0;
    }
    const uint32_t b = (data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1;
    ++pos_;
    return b;
  }
  uint32_t Ue() {
    int zeros = 0;
    while (ok_ && Bit() == 0) {
      if (++zeros > 31) {
        ok_ = false;
        return 0;
      }
    }
    return zeros == 0 ? 0 : ((1u << zeros) - 1) + Bits(zeros);
  }
  int32_t Se() {
    const uint32_t k = Ue();
    return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
  }
  int64_t position() const { return pos_; }
  bool ok() const { return ok_; }

 private:
  const uint8_t* data_;
  int64_t bits_;
  int64_t pos_ = 0;
  bool ok_ = true;
};

class BitWriter {
 public:
  BitWriter(uint8_t* data, int32_t capacity) : data_(data), capacity_(capacity) {
    std::memset(data_, 0, static_cast<size_t>(capacity_));
  }
  void Bits(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) Bit((v >> i) & 1);
  }
  void Bit(uint32_t b) {
    if (pos_ >= static_cast<int64_t>(capacity_) * 8) {
      ok_ = false;
      return;
    }
    if (b) data_[pos_ >> 3] |= static_cast<uint8_t>(0x80 >> (pos_ & 7));
    ++pos_;
  }
  void Ue(uint32_t v) {
    const uint64_t x = static_cast<uint64_t>(v) + 1;
    int n = 0;
    while ((x >> n) > 1) ++n;
    Bits(0, n);
    Bits(static_cast<uint32_t>(x), n + 1);
  }
  // rbsp_trailing_bits: a stop bit, then zeros to the byte's end.
  int32_t Finish() {
    Bit(1);
    return static_cast<int32_t>((pos_ + 7) / 8);
  }
  int64_t position() const { return pos_; }
  bool ok() const { return ok_; }

 private:
  uint8_t* data_;
  int32_t capacity_;
  int64_t pos_ = 0;
  bool ok_ = true;
};

// Length of the start code in front of a unit: 3 or 4, 0 when none.
int32_t StartCodeLength(const uint8_t* unit, int32_t size) {
  if (size >= 4 && unit[0] == 0 && unit[1] == 0 && unit[2] == 0 && unit[3] == 1) return 4;
  if (size >= 3 && unit[0] == 0 && unit[1] == 0 && unit[2] == 1) return 3;
  return 0;
}

// Drops emulation prevention bytes (00 00 03 -> 00 00).
int32_t Unescape(const uint8_t* in, int32_t size, uint8_t* out) {
  int32_t n = 0, zeros = 0;
  for (int32_t i = 0; i < size; ++i) {
    if (zeros >= 2 && in[i] == 3) {
      zeros = 0;
      continue;
    }
    out[n++] = in[i];
    zeros = in[i] == 0 ? zeros + 1 : 0;
  }
  return n;
}

// Puts emulation prevention bytes back; -1 when out is too small.
int32_t Escape(const uint8_t* in, int32_t size, uint8_t* out, int32_t capacity) {
  int32_t n = 0, zeros = 0;
  for (int32_t i = 0; i < size; ++i) {
    if (zeros >= 2 && in[i] <= 3) {
      if (n >= capacity) return -1;
      out[n++] = 3;
      zeros = 0;
    }
    if (n >= capacity) return -1;
    out[n++] = in[i];
    zeros = in[i] == 0 ? zeros + 1 : 0;
  }
  return n;
}

}  // namespace

PictureRepeater::PictureRepeater() : rbsp_(new uint8_t[kMaxRbsp]), out_(new uint8_t[kMaxUnit + 8]) {}

void PictureRepeater::Reset() {
  stream_ = Stream{};
  pictureSeen_ = false;
  broken_ = false;
  lastRefFrameNum_ = 0;
  pictureFrameNum_ = 0;
}

bool PictureRepeater::CanRepeat() const {
  return stream_.haveSps && stream_.havePps && stream_.supported && pictureSeen_ && !broken_;
}

bool PictureRepeater::ReadSps(const uint8_t* rbsp, int32_t size) {
  BitReader r(rbsp, size);
  const uint32_t profile = r.Bits(8);
  r.Bits(16);  // constraint flags, level
  r.Ue();      // seq_parameter_set_id
  bool plain = true;
  static const uint32_t kChromaProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
  for (uint32_t p : kChromaProfiles) {
    if (profile != p) continue;
    const uint32_t chroma = r.Ue();
    if (chroma == 3) r.Bit();
    r.Ue();
    r.Ue();
    r.Bit();
    plain = plain && chroma == 1 && r.Bit() == 0;  // no scaling matrices
  }
  stream_.log2MaxFrameNum = static_cast<int32_t>(r.Ue()) + 4;
  const uint32_t pocType = r.Ue();
  if (pocType == 0) r.Ue();
  const uint32_t refFrames = pocType == 1 ? 0 : r.Ue();
  r.Bit();  // gaps_in_frame_num_value_allowed_flag
  const uint32_t widthMbs = r.Ue() + 1;
  const uint32_t heightMbs = r.Ue() + 1;
  const uint32_t frameMbsOnly = r.Bit();
  stream_.pictureMbs = static_cast<int32_t>(widthMbs * heightMbs);
  // One reference picture: a repeat, taking its place, holds the same
  // pixels, so the encoder's later pictures predict from what they expect.
  stream_.supported = r.ok() && plain && pocType == 2 && refFrames == 1 && frameMbsOnly == 1 &&
                      stream_.log2MaxFrameNum <= 16 && widthMbs * heightMbs <= 139264;
  return r.ok();
}

bool PictureRepeater::ReadPps(const uint8_t* rbsp, int32_t size) {
  BitReader r(rbsp, size);
  stream_.ppsId = static_cast<int32_t>(r.Ue());
  r.Ue();  // seq_parameter_set_id
  const uint32_t cabac = r.Bit();
  r.Bit();  // bottom_field_pic_order_in_frame_present_flag
  const uint32_t sliceGroups = r.Ue() + 1;
  if (sliceGroups != 1 || cabac) {
    stream_.supported = false;
    return r.ok();
  }
  r.Ue();
  r.Ue();  // default reference counts
  const uint32_t weighted = r.Bit();
  r.Bits(2);
  r.Se();
  r.Se();
  r.Se();  // quantiser offsets
  stream_.deblockingControl = r.Bit() != 0;
  r.Bit();  // constrained_intra_pred_flag
  stream_.redundantPicCnt = r.Bit() != 0;
  stream_.supported = stream_.supported && r.ok() && weighted == 0;
  return r.ok();
}

const uint8_t* PictureRepeater::Take(const uint8_t* unit, int32_t size, int32_t* outSize) {
  *outSize = size;
  const int32_t start = StartCodeLength(unit, size);
  if (start == 0 || size <= start) return unit;
  const int type = unit[start] & TD_NAL_TYPE_MASK;
  if (type == kNalSps || type == kNalPps) {
    const int32_t n = Unescape(unit + start + 1, std::min(size - start - 1, kMaxRbsp), rbsp_.get());
    const bool ok = type == kNalSps ? ReadSps(rbsp_.get(), n) : ReadPps(rbsp_.get(), n);
    (type == kNalSps ? stream_.haveSps : stream_.havePps) = ok;
    return unit;
  }
  if (type != kNalSlice && type != kNalIdr) return unit;
  if (!stream_.haveSps || !stream_.havePps || !stream_.supported) return unit;
  return TakeSlice(unit, size, start, outSize);
}

const uint8_t* PictureRepeater::TakeSlice(const uint8_t* unit, int32_t size, int32_t start, int32_t* outSize) {
  const int type = unit[start] & TD_NAL_TYPE_MASK;
  const bool reference = (unit[start] & TD_NAL_NRI_MASK) != 0;
  if (type == kNalIdr) broken_ = false;
  if (broken_) return unit;
  if (size - start > kMaxRbsp) {
    broken_ = true;  // cannot be rewritten: repeats wait for the next IDR
    return unit;
  }
  // The header's first fields lie within its first bytes; the whole unit
  // is unescaped only when it must be rewritten.
  int32_t n = Unescape(unit + start + 1, std::min<int32_t>(size - start - 1, kHeaderBytes), rbsp_.get());
  BitReader r(rbsp_.get(), n);
  const uint32_t firstMb = r.Ue();
  r.Ue();  // slice_type
  r.Ue();  // pic_parameter_set_id
  const int64_t frameNumAt = r.position();
  const uint32_t frameNum = r.Bits(stream_.log2MaxFrameNum);
  if (!r.ok()) {
    broken_ = true;
    return unit;
  }
  const uint32_t mask = (1u << stream_.log2MaxFrameNum) - 1;
  if (firstMb == 0) {
    // A new picture: its number follows the last reference picture sent,
    // repeats included.
    pictureFrameNum_ = type == kNalIdr ? 0 : (lastRefFrameNum_ + 1) & mask;
    if (reference) lastRefFrameNum_ = pictureFrameNum_;
    pictureSeen_ = true;
  }
  if (frameNum == pictureFrameNum_) return unit;

  // Rewrite the field in the unescaped bytes and escape them anew.
  n = Unescape(unit + start + 1, size - start - 1, rbsp_.get());
  for (int i = 0; i < stream_.log2MaxFrameNum; ++i) {
    const int64_t bit = frameNumAt + i;
    const uint8_t m = static_cast<uint8_t>(0x80 >> (bit & 7));
    if ((pictureFrameNum_ >> (stream_.log2MaxFrameNum - 1 - i)) & 1)
      rbsp_[bit >> 3] |= m;
    else
      rbsp_[bit >> 3] &= static_cast<uint8_t>(~m);
  }
  std::memcpy(out_.get(), unit, static_cast<size_t>(start) + 1);
  const int32_t body = Escape(rbsp_.get(), n, out_.get() + start + 1, kMaxUnit + 8 - start - 1);
  if (body < 0) {
    broken_ = true;
    return unit;
  }
  *outSize = start + 1 + body;
  return out_.get();
}

const uint8_t* PictureRepeater::Repeat(int32_t* size) {
  if (!CanRepeat()) return nullptr;
  const uint32_t mask = (1u << stream_.log2MaxFrameNum) - 1;
  const uint32_t frameNum = (lastRefFrameNum_ + 1) & mask;
  uint8_t rbsp[64];
  BitWriter w(rbsp, sizeof rbsp);
  w.Ue(0);  // first_mb_in_slice
  w.Ue(5);  // slice_type: P, as every slice of the picture
  w.Ue(static_cast<uint32_t>(stream_.ppsId));
  w.Bits(frameNum, stream_.log2MaxFrameNum);
  if (stream_.redundantPicCnt) w.Ue(0);
  w.Bit(0);  // num_ref_idx_active_override_flag
  w.Bit(0);  // ref_pic_list_modification_flag_l0
  w.Bit(0);  // adaptive_ref_pic_marking_mode_flag: the sliding window
  w.Ue(0);   // slice_qp_delta (se 0)
  if (stream_.deblockingControl) w.Ue(1);  // no deblocking: nothing to filter
  w.Ue(static_cast<uint32_t>(stream_.pictureMbs));  // mb_skip_run: every macroblock
  const int32_t bytes = w.Finish();
  if (!w.ok()) return nullptr;
  uint8_t* out = out_.get();
  out[0] = 0;
  out[1] = 0;
  out[2] = 0;
  out[3] = 1;
  out[4] = 0x40 | kNalSlice;  // nal_ref_idc 2: a reference picture
  const int32_t body = Escape(rbsp, bytes, out + 5, kMaxUnit);
  if (body < 0) return nullptr;
  lastRefFrameNum_ = frameNum;
  *size = 5 + body;
  return out;
}
