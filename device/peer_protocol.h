// The device's side of the conversation with one sender, without the
// socket: pairing (banner, optional password challenge, acceptance or
// refusal), answers to start and stop requests, messages posted by other
// threads, and a log line per message received. Frames in come from a
// FrameReader; frames out go to a FrameOutput.
#pragma once
#include <cstdint>
#include <string>

#include "device/frame_output.h"
#include "device/frame_reader.h"
#include "device/journal.h"
#include "device/log.h"
#include "device/options.h"
#include "device/outbox.h"
#include "tdwire.h"

namespace device {

class PeerProtocol {
 public:
  PeerProtocol(int connection, const DeviceOptions& options, DeviceJournal& journal,
               const DeviceLog& log, FrameOutput& output);

  void onFrame(const Frame& frame);
  void onPosted(const OutboxItem& item);
  void sendKeepAlive();
  // The connection ends: a running stream stops without acknowledgement.
  void onConnectionEnd();

  // The pairing was refused: nothing more is sent or handled, the sender
  // only has to leave.
  bool refused() const { return refused_; }
  void protocolError(const std::string& what);
  void say(const std::string& line) const;

  std::uint64_t keepAlivesReceived() const { return keepAlives_; }
  std::uint64_t mediaReceived() const { return media_; }
  std::uint64_t mediaBytesReceived() const { return mediaBytes_; }

 private:
  void onBanner(const Frame& frame);
  void onDigest(const Frame& frame);
  void onStartRequest();
  void onStopRequest();
  void sendChallenge();
  void accept();
  void refuse(int reason);
  void sendParams(const std::uint8_t* record, std::uint32_t length);
  void stopStream(bool acknowledge);
  bool send(std::uint32_t type, const void* payload, std::uint32_t length);

  const int connection_;
  const DeviceOptions& options_;
  DeviceJournal& journal_;
  const DeviceLog& log_;
  FrameOutput& output_;

  bool bannerSeen_ = false;
  bool challengePending_ = false;
  bool paired_ = false;
  bool streaming_ = false;
  bool refused_ = false;
  std::uint8_t challenge_[TD_CHALLENGE_SIZE] = {};
  std::uint64_t keepAlives_ = 0, media_ = 0, mediaBytes_ = 0;
};

// Name of a message type for log lines ("banner", "keep-alive", "type 42").
std::string messageName(std::uint32_t type);

}  // namespace device
