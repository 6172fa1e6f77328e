// How one reference device behaves: where it listens, how it pairs, what it
// asks the sender for. Filled from the command line or directly by tests.
#pragma once
#include <functional>
#include <optional>
#include <string>

#include "device/decoded_frame.h"
#include "device/encoding_request.h"
#include "device/event_script.h"

namespace device {

class MediaSink;

// Receives every log line of the device, without a line end. Called on the
// device thread and on threads that call Device's send functions.
using LogSink = std::function<void(const std::string& line)>;

// Reasons the device gives when it refuses a pairing (message types 0, 16,
// 17, 18 carry reasons 0, 1, 2, 3). A wrong password answer is reason 1.
constexpr int kRejectRefused = 0;
constexpr int kRejectWrongPassword = 1;
constexpr int kRejectBusy = 2;
constexpr int kRejectNotAllowed = 3;

struct DeviceOptions {
  std::string bindAddress = "127.0.0.1";
  // Set: every connection gets a random 16-byte challenge and must answer
  // it with MD5(challenge, password). Unset: pairings need no password.
  std::optional<std::string> password;
  // 0..3: refuse every pairing with this reason, after the banner.
  std::optional<int> rejectReason;
  EncodingRequest encoding;
  // Period of the device's keep-alives; 0 sends none (a device that the
  // sender must give up on).
  int keepAliveMs = 1000;
  // A connection that brings nothing for this long is closed, so that a
  // vanished sender cannot hold the device.
  int peerTimeoutMs = 10000;
  // Log keep-alives and media messages one by one, not only in the summary.
  bool verbose = false;
  LogSink log;                 // empty: standard output
  // Not owned; also told of the stream when the device decodes it itself.
  MediaSink* media = nullptr;

  // Every access unit as received, in Annex B form; empty: none.
  std::string recordPath;
  // Show the decoded pictures in a window (the program does it; the device
  // only hands them to onPicture).
  bool display = false;
  // Read the test pattern's stamp from every decoded picture and add
  // latency figures to the statistics.
  bool readStamps = false;
  // Latency only from the first picture that shows each new pattern frame.
  bool stampEvents = false;
  // Latency of the first settleSeconds of each stream is left out of the
  // stream's summary (the once-a-second figures still show it).
  double settleSeconds = 0;
  ScriptedEvents script;
  // Called on the device thread for every decoded picture.
  PictureObserver onPicture;
};

// Applies one KEY=VALUE setting (resolution, size, fps, bitrate, profile,
// mode) to a request with the rules of the command-line options of the same
// names; false with the reason in *error.
bool applyEncodingSetting(const std::string& key, const std::string& value, EncodingRequest* r,
                          std::string* error);
// Frame rate N as the device asks for it: rate N with divisor ceil(N/15), so
// that the sender's limit of 15 per divisor leaves N in force.
void setFrameRate(std::uint32_t fps, EncodingRequest* r);

enum class ParseOutcome { Run, Help, Error };

// Fills `options` from the command line of tandeo-device. On Error,
// `error` says what is wrong.
ParseOutcome parseDeviceOptions(int argc, char** argv, DeviceOptions* options, std::string* error);
std::string deviceUsage();

}  // namespace device
