// The session object behind the opaque handle: one pairing with one device
// over one TCP connection.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "media/codec_session.h"
#include "media/encoding_params.h"
#include "platform/net.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "recv_buffer.h"
#include "tdsdk.h"

class CCapture;

class CH239Info : public ICodecSession {
 public:
  CH239Info();
  virtual ~CH239Info();
  CH239Info(const CH239Info&) = delete;
  CH239Info& operator=(const CH239Info&) = delete;

  // Control channel.
  bool InitConnectionSkt();
  bool SendControlMessage(std::uint32_t type, std::uint32_t length, const void* payload);
  // Reads socket_ under the send lock.
  plat::Socket currentSocket();
  // Closes s and, when socket_ still holds it, sets socket_ to none; both
  // under the send lock, so no sender is using the socket meanwhile.
  void closeSocket(plat::Socket s);

  // Codec thread control.
  void StartCodecThread();
  void StopCodecThread();
  // The caller's stop: the codec thread stops feeding the socket at once
  // (the session thread reaps it later). True when a stream was running.
  bool StopFeeding();
  // Before a new start request: a stream stopped without acknowledgement
  // counts as ended.
  void ForgetStoppedStream();

  int h239Status();
  void setH239Status(int status);
  // Stores a whole new parameter record and flags it for the codec thread.
  void storeEncodingParams(const EncodingParams& params);

  // What the codec thread reads and changes.
  bool codecRunning() override { return codecRunning_ != 0; }
  bool isEncoding() override { return h239Status() == TDH239_ENCODING; }
  EncodingParams copyEncodingParams() override;
  bool paramsChanged() override { return paramsChanged_ != 0; }
  void clearParamsChanged() override;
  std::int32_t takeVfuRequest() override;
  CCapture& capture() override { return *capture_; }
  bool sendMessage(plat::Socket socket, const unsigned char* message, long length) override;

  char password_[TD_PASSWORD_SIZE] = {};
  std::atomic<std::int32_t> connStatus_{TDH239_CONNECTION_NONE};
  std::int32_t h239Status_ = TDH239_IDLE;  // under statusLock_
  std::int32_t port_ = TD_DEVICE_PORT;
  unsigned char challenge_[256] = {};
  unsigned char digest_[TD_DIGEST_SIZE] = {};
  std::int32_t screenWidth_ = 0;
  std::int32_t screenHeight_ = 0;
  plat::CriticalSection statusLock_;
  std::unique_ptr<CCapture> capture_;
  std::atomic<std::int32_t> codecRunning_{0};
  EncodingParams encParams_;             // under codecLock_
  std::atomic<std::int32_t> paramsChanged_{0};  // written under codecLock_
  std::int32_t vfuRequested_ = 0;        // under codecLock_
  plat::CriticalSection codecLock_;
  std::atomic<std::int32_t> kpaCount_{0};
  plat::AutoResetEvent frameEvent_;
  plat::Thread codecThread_;
  plat::Thread sessionThread_;
  std::atomic<std::int32_t> running_{0};
  plat::Socket socket_ = plat::kInvalidSocket;  // replaced only under the send lock
  std::atomic<std::int32_t> rejectedReason_{0};

  // Bytes received and not yet handled; only the session thread uses it.
  RecvBuffer recvBuffer_;
};

// Sends length bytes completely or fails. The caller holds the send lock.
bool TCPSend(plat::Socket socket, const void* data, long length);

// The one lock that keeps frames of different threads from interleaving.
plat::CriticalSection& sendLock();
