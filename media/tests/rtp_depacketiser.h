// The receiving side of the RTP stream, written apart from the sender's
// packetiser: it checks every packet as it comes and rebuilds the NAL units
// of each picture.
#ifndef TANDEO_MEDIA_TESTS_RTP_DEPACKETISER_H
#define TANDEO_MEDIA_TESTS_RTP_DEPACKETISER_H

#include <cstdint>
#include <string>
#include <vector>

#include "media/video_encoder.h"

using Bytes = std::vector<uint8_t>;

struct ReceivedPicture {
  std::vector<Bytes> nals;  // without start codes
  size_t bytes = 0;         // RTP packet bytes that carried it
};

class RtpDepacketiser : public OutBitStream {
 public:
  // `maxPacket`: the size no packet may exceed.
  explicit RtpDepacketiser(size_t maxPacket) : maxPacket_(maxPacket) {}

  int32_t Write(const uint8_t* data, int32_t length) override;

  // Protocol faults seen so far, one line each.
  const std::vector<std::string>& errors() const { return errors_; }
  std::vector<ReceivedPicture>& pictures() { return pictures_; }
  // Packets of a picture whose marker has not come yet.
  bool pending() const { return !current_.nals.empty() || inFragment_; }
  size_t packets() const { return packets_; }
  size_t largestPacket() const { return largest_; }
  size_t fragmentPackets() const { return fragmentPackets_; }

 private:
  void Fail(const std::string& what);

  size_t maxPacket_;
  std::vector<std::string> errors_;
  std::vector<ReceivedPicture> pictures_;
  ReceivedPicture current_;
  bool inFragment_ = false;
  Bytes fragment_;
  size_t packets_ = 0, largest_ = 0, fragmentPackets_ = 0;
};

// An access unit in Annex B form (4-byte start codes) for a decoder.
Bytes AnnexB(const ReceivedPicture& picture);

#endif  // TANDEO_MEDIA_TESTS_RTP_DEPACKETISER_H
