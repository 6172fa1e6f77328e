// Shared pieces of the fault tests: process figures (memory, threads, CPU),
// the device's side of the media stream (depacketise and decode), a painter
// that keeps the screen busy, and scripted peers in a process of their own.
#pragma once
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fake_device.h"
#include "media/tests/h264_decoder.h"
#include "media/tests/rtp_depacketiser.h"

namespace fault {

// Resident memory of this process, KiB (VmRSS).
long RssKiB();
// Threads of this process (/proc/self/task).
int ThreadCount();
// The thread count to come back to: taken after one thread has been started
// and joined, as sanitizer runtimes add a helper thread of their own on the
// first start.
int ThreadBaseline();
// CPU time of the whole process, seconds.
double ProcessCpuSeconds();
// Waits up to timeoutMs for pred to hold, polling every 10 ms.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs);
// True when the build is instrumented by AddressSanitizer, whose quarantine
// makes resident memory meaningless as a figure.
bool UnderAddressSanitizer();

// A type-6 record: mode 3, the given code, profile, rate and divisor, bit
// rate, packet size 1400.
std::vector<unsigned char> ParamsRecord(std::uint32_t code, std::uint32_t fps, std::uint32_t divisor,
                                        std::uint32_t bitRate, std::uint32_t profile);

// What a device does with media messages: checks the RTP packets, rebuilds
// each picture and decodes it.
class MediaReceiver {
 public:
  MediaReceiver() : depacketiser_(1312) {}
  // Takes one media frame; false when it is not a well-formed RTP packet.
  bool take(const Frame& frame);

  int packets() const { return packets_; }
  std::uint16_t firstSeq() const { return firstSeq_; }
  int firstNalType() const { return firstNal_; }
  // Sequence numbers that did not follow the one before.
  int seqGaps() const { return seqGaps_; }
  std::uint64_t payloadBytes() const { return bytes_; }
  // Pictures whose marker came in.
  int pictures() const { return static_cast<int>(handed_); }
  const std::vector<DecodedPicture>& decoded() const { return decoded_; }
  // Protocol and decoder errors, one line each.
  std::vector<std::string> errors() const;

 private:
  RtpDepacketiser depacketiser_;
  H264Decoder decoder_;
  std::vector<DecodedPicture> decoded_;
  std::size_t handed_ = 0;  // pictures given to the decoder
  int packets_ = 0;
  std::uint16_t firstSeq_ = 0, lastSeq_ = 0;
  int firstNal_ = -1;
  int seqGaps_ = 0;
  std::uint64_t bytes_ = 0;
};

// Draws random blocks on $DISPLAY from a thread of its own, so that every
// frame the sender grabs differs and encodes large.
class NoisePainter {
 public:
  ~NoisePainter() { stop(); }
  bool start();
  void stop();

 private:
  std::atomic<bool> run_{false};
  std::thread thread_;
};

// Shrinks or grows the root window of $DISPLAY with RandR: the output is
// switched off for sizes other than its mode and back on for the full size.
bool SetScreenSize(int width, int height);

// A scripted device in a process of its own (session_fault_peer), so that
// it can be killed and so that its CPU time is not the sender's.
class PeerProcess {
 public:
  ~PeerProcess() { kill(); }
  // Starts the peer with args and waits for its "ready" line.
  bool start(const std::vector<std::string>& args, int timeoutMs = 5000);
  // Next line the peer prints, without the newline; false on time-out or end.
  bool readLine(std::string& line, int timeoutMs);
  // Sends SIGKILL and reaps the peer.
  void kill();
  // Waits for the peer to end; its exit status, or -1 on time-out or signal.
  int wait(int timeoutMs);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffered_;
};

}  // namespace fault

#include "event_log.h"
#include "tdsdk.h"

namespace fault {

// Ends the session's connection when it goes out of scope. Declared after
// the EventLog that a connection reports to, so that no callback can reach
// the log after it is gone, whichever way the test leaves the scope.
class DisconnectAtEnd {
 public:
  explicit DisconnectAtEnd(TDSdkHandle h) : h_(h) {}
  ~DisconnectAtEnd() { TDS_Disconnect(h_); }
  DisconnectAtEnd(const DisconnectAtEnd&) = delete;
  DisconnectAtEnd& operator=(const DisconnectAtEnd&) = delete;

 private:
  TDSdkHandle h_;
};

// A session handle destroyed with its owner; declared before the EventLogs
// its connections report to.
struct OwnedSession {
  OwnedSession() = default;
  ~OwnedSession() { DestroyTDSdkHandle(h); }
  OwnedSession(const OwnedSession&) = delete;
  OwnedSession& operator=(const OwnedSession&) = delete;
  TDSdkHandle h = CreateTDSdkHandle();
};

// Pairs h with dev (which listens on address) and, when params is not
// empty, starts encoding with them. Failures are reported through gtest's
// fatal assertions of the caller (check HasFatalFailure()).
void PairWith(TDSdkHandle h, FakeDevice& dev, const char* address, EventLog& log);
void StartEncoding(TDSdkHandle h, FakeDevice& dev, EventLog& log, const std::vector<unsigned char>& params);
// Reads frames until a media frame comes; control frames are dropped.
// Sends the device's keep-alive when the last one is 0.5 s old.
bool NextMedia(FakeDevice& dev, Frame& f, int timeoutMs = 3000);
// Reads media frames into rx until it has decoded n pictures in all.
bool ReceivePictures(FakeDevice& dev, MediaReceiver& rx, std::size_t n, int timeoutMs = 5000);
// Reads media frames until the first of a new run (sequence number 1).
bool NextRunStart(FakeDevice& dev, Frame& f, int timeoutMs = 5000);
// Sets the capture area to the whole 1920x1080 screen, as the manager does.
void CaptureWholeScreen(TDSdkHandle h);
// Counts (event, value) pairs.
int CountEvents(EventLog& log, int event, int value);

}  // namespace fault
