// Repeats the last picture of an H.264 stream without encoding it: a P
// picture in one slice whose macroblocks are all skipped, which a decoder
// shows as its reference picture, unchanged, for a few bytes.
//
// Written for what the encoder makes of the baseline profile: CAVLC, frame
// pictures only, picture order count type 2, one reference picture, no
// weighted prediction. A repeat is a reference picture and takes the next
// frame number (order type 2 allows no two non-reference pictures in a
// row), so the frame numbers of the encoder's own later slices are
// rewritten to follow on; an IDR picture starts the count afresh.
#ifndef TANDEO_MEDIA_PICTURE_REPEATER_H
#define TANDEO_MEDIA_PICTURE_REPEATER_H
#include <cstdint>
#include <memory>

class PictureRepeater {
 public:
  // Largest unit rewritten; longer slices end repeating until the next IDR.
  static constexpr int32_t kMaxUnit = 65536;

  PictureRepeater();

  // Forgets the stream (a new encoder starts one).
  void Reset();

  // Takes one NAL unit that the encoder wrote (Annex B, start code
  // included), on its way out. Parameter sets are read; a slice whose frame
  // number must follow a repeat is rewritten into the repeater's buffer.
  // Returns the bytes to send in place of the unit (the unit itself when
  // nothing changed) and sets *outSize.
  const uint8_t* Take(const uint8_t* unit, int32_t size, int32_t* outSize);

  // Whether a repeat can be written now: the stream is of the supported
  // kind and a picture has been seen since its last IDR.
  bool CanRepeat() const;

  // Writes a repeat of the last picture; its bytes (start code included),
  // or nullptr when CanRepeat() is false.
  const uint8_t* Repeat(int32_t* size);

 private:
  struct Stream {
    bool haveSps = false, havePps = false, supported = false;
    int32_t log2MaxFrameNum = 0;
    int32_t pictureMbs = 0;
    int32_t ppsId = 0;
    bool redundantPicCnt = false;
    bool deblockingControl = false;
  };

  bool ReadSps(const uint8_t* rbsp, int32_t size);
  bool ReadPps(const uint8_t* rbsp, int32_t size);
  const uint8_t* TakeSlice(const uint8_t* unit, int32_t size, int32_t headerBytes, int32_t* outSize);

  Stream stream_;
  bool pictureSeen_ = false;   // since the last IDR
  bool broken_ = false;        // a slice could not be followed: no repeats until an IDR
  uint32_t lastRefFrameNum_ = 0;
  uint32_t pictureFrameNum_ = 0;  // of the picture whose slices are passing
  std::unique_ptr<uint8_t[]> rbsp_;  // unescaped bytes of the unit being read
  std::unique_ptr<uint8_t[]> out_;   // a rewritten unit or a repeat
};

#endif  // TANDEO_MEDIA_PICTURE_REPEATER_H
