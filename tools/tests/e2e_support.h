// What the end-to-end tests share: a sender driven through the exported
// session interface only, a log of the pictures the reference device
// decodes, and the process's thread and descriptor counts.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/decoded_frame.h"
#include "event_queue.h"
#include "pattern_window.h"
#include "tdsdk.h"
#include "test_x_server.h"

namespace e2e {

// One session of the sender, as the application drives it.
class Sender {
 public:
  Sender();
  ~Sender();  // disconnects and destroys the session
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;

  // The area the session grabs (normally the whole screen).
  void shareArea(int width, int height);
  // Pairs with the device at address; true once the device accepted.
  bool pair(const std::string& address, int timeoutMs = 5000);
  // Requests the stream; true once the session reports it started.
  bool startStream(int timeoutMs = 3000);
  // Requests a stop; true once the session reports it acknowledged.
  bool stopStream(int timeoutMs = 3000);
  // Waits for a session event (any value when value < 0); earlier events
  // are passed over.
  bool waitFor(int event, int value, int timeoutMs);
  void disconnect();

 private:
  static void TDS_CALL onEvent(void* self, int event, int value);

  TDSdkHandle handle_;
  cli::EventQueue events_;
};

// What the streaming tests grab: a private X server of the given size, the
// pattern full screen on it, DISPLAY pointing at it.
class PatternScreen {
 public:
  // False, with the reason in *error, when either cannot start.
  bool start(int width, int height, const pattern::PatternWindowOptions& options, std::string* error);
  bool running() const { return window_ && window_->running(); }
  ~PatternScreen();  // the window first, then its server

 private:
  std::unique_ptr<plat_test::TestXServer> server_;
  std::unique_ptr<pattern::PatternWindow> window_;
};

// One decoded picture, as the device's observer saw it.
struct PictureRecord {
  std::int64_t decodedUs;
  int width, height;
  bool idr;
  int stampCounter;
};

// A luma plane kept for comparison with the pattern.
struct LumaSample {
  int width = 0, height = 0, stampCounter = -1;
  std::vector<std::uint8_t> y;
};

// Collects every decoded picture's record and, while sampling is on, a
// copy of every `sampleEvery`-th stamped picture's luma (at most maxSamples).
// observe() runs on the device thread, the rest on the test's.
class PictureLog {
 public:
  void observe(const device::DecodedFrame& f);
  std::vector<PictureRecord> records() const;
  std::size_t count() const;
  void sample(int every, std::size_t maxSamples);
  std::vector<LumaSample> takeSamples();

 private:
  mutable std::mutex m_;
  std::vector<PictureRecord> records_;
  std::vector<LumaSample> samples_;
  int sampleEvery_ = 0;
  std::size_t maxSamples_ = 0;
  std::uint64_t stamped_ = 0;
};

// PSNR of a decoded luma plane against the pattern frame its stamp names,
// rendered at the same size, below the stamp row (as scaled from a screen of
// the given size) and a margin of rows that the sender's scaler blends with
// it. frameOffset compares with a neighbouring frame instead.
double patternPsnr(const LumaSample& s, int screenWidth, int screenHeight, int frameOffset = 0);

// Threads of this process, and its open file descriptors.
int threadCount();
int openDescriptors();

}  // namespace e2e
