// The codec thread: paced by a periodic timer, on each tick it grabs,
// encodes and sends one frame while the session is encoding.
#pragma once
#include <cstdint>

#include "media/codec_session.h"
#include "media/link_pacer.h"
#include "media/video_encoder.h"
#include "platform/net.h"
#include "platform/sync.h"

class CCapture;

// Start record of the codec thread; the thread frees it.
struct CodecThreadStart {
  plat::AutoResetEvent* frameEvent;
  plat::Socket socket;
  ICodecSession* session;
};

std::uint32_t CodecThread(void* start);

// Frames per second that a record asks for (rate over divisor), or inForce
// when that is below 1.
std::int32_t RateOf(const EncodingParams& p, std::int32_t inForce);

// Abstract frame source.
class InFrameStream {
 public:
  virtual ~InFrameStream() = default;
  // 0 when a frame was delivered, 1 when there is none.
  virtual std::int32_t GetFrame(FramePicture* picture, FrameEncodeParams* params) = 0;
};

// Frames from the session's capture object: each waits for the frame
// event's tick, then is grabbed.
class CInFrameStream : public InFrameStream {
 public:
  CInFrameStream(plat::AutoResetEvent* frameEvent, CCapture* capture, ICodecSession* session);
  std::int32_t GetFrame(FramePicture* picture, FrameEncodeParams* params) override;
  void setFrameRate(std::int32_t rate) { frameRate_ = rate; }
  // The last frame delivered shows the same picture as the one before it.
  bool samePicture() const { return samePicture_; }
  // Asked at each tick whether to take a picture (none: every tick).
  void setPacer(CLinkPacer* pacer) { pacer_ = pacer; }

  // Longest wait for a tick. The timer sets the event every period; should
  // it fail, the thread still comes round to check its run flag.
  int tickTimeoutMs = 1000;

 private:
  plat::AutoResetEvent* frameEvent_;
  CCapture* capture_;
  ICodecSession* session_;
  CLinkPacer* pacer_ = nullptr;
  // The frame rate in force; a rate below 1 from the device keeps it.
  std::int32_t frameRate_ = 5;
  std::int64_t lastPicture_ = -1;  // the capture's picture serial at the last frame
  bool samePicture_ = false;
};

// Sends each RTP packet as one media message on the session's socket.
class COutBitStream : public OutBitStream {
 public:
  COutBitStream(plat::Socket socket, ICodecSession* session);
  std::int32_t Write(const std::uint8_t* data, std::int32_t length) override;
  std::int32_t packetCount() const { return packetCount_; }
  // Bytes of the media messages handed to the socket so far.
  std::int64_t bytesSent() const { return bytesSent_; }

 private:
  plat::Socket socket_;
  ICodecSession* session_;
  std::int32_t packetCount_ = 0;
  std::int64_t bytesSent_ = 0;
  // One message buffer, allocated with the sink: header and largest payload.
  unsigned char message_[8 + 65536];
};
