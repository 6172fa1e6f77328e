// The D-Bus half of a screen cast: one session of the desktop portal's
// ScreenCast interface, from CreateSession to the PipeWire descriptor.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

namespace plat {
namespace portal {

// What the portal granted: a PipeWire connection and the stream's node.
struct CastGrant {
  int pipewireFd = -1;  // belongs to the receiver
  std::uint32_t nodeId = 0;
  std::int32_t width = 0, height = 0;  // 0 when the portal did not say
  std::string restoreToken;            // empty when the portal gave none
};

enum class Outcome {
  Ok,
  Refused,  // the user or the portal's policy declined
  Failed,   // no portal, a call failed or timed out
  Stopped,  // the caller's stop flag was raised meanwhile
};

// True when org.freedesktop.portal.ScreenCast answers on the session bus
// within timeoutMs.
bool ScreenCastAnswers(int timeoutMs);

// One portal session. All calls on the thread that created it; it runs its
// own main context, so it needs no main loop of the caller.
class Session {
 public:
  // stop, when raised by another thread, ends any wait within a few
  // hundredths of a second.
  explicit Session(const std::atomic<bool>* stop);
  ~Session();  // closes the portal session, if one was opened
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // CreateSession, SelectSources (one monitor, the pointer embedded where
  // the portal can, persist_mode 2 with restoreToken when there is one),
  // Start, OpenPipeWireRemote. On anything but Ok, *error says why.
  Outcome Open(const std::string& restoreToken, CastGrant* grant, std::string* error);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace portal
}  // namespace plat
