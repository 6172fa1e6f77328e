// A scripted device in a process of its own, for the fault tests that kill
// the device or must not count its CPU time as the sender's. Prints "ready"
// once it listens, then what it saw, one word a line.
//
//   session_fault_peer stream ADDRESS
//     pairs, answers a start request with 320x240 at 15 frames a second and
//     reads media until it is killed; prints "media" after five packets.
//   session_fault_peer flood ADDRESS PER_SECOND SECONDS
//     pairs, prints "flood-start", sends keep-alives at the given rate for
//     the given time, prints "flood-done N"; then answers a start request and
//     exits 0 after ten media packets (1 if they do not come).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fake_device.h"
#include "fault_support.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "tdwire.h"

namespace {

void Say(const std::string& word) {
  std::printf("%s\n", word.c_str());
  std::fflush(stdout);
}

// Reads frames for up to timeoutMs, keeping the connection alive; answers a
// start request; returns the number of media packets seen, stopping at want.
int ServeMedia(FakeDevice& dev, int want, int timeoutMs) {
  int media = 0;
  std::int64_t deadline = plat::monotonicUs() + timeoutMs * 1000LL;
  std::int64_t nextKeepAlive = 0;
  while (media < want && plat::monotonicUs() < deadline) {
    if (plat::monotonicUs() >= nextKeepAlive) {
      if (!dev.sendFrame(TDMSG_KEEPALIVE)) return media;
      nextKeepAlive = plat::monotonicUs() + 500000;
    }
    Frame f;
    if (!dev.readFrame(f, 200)) continue;
    if (f.type == TDMSG_START_ENCODING_REQ) {
      dev.sendFrame(TDMSG_START_ENCODING_ACK, fault::ParamsRecord(8, 15, 1, 300000, 66));
    } else if (f.type == TDMSG_MEDIA && ++media == 5) {
      Say("media");
    }
  }
  return media;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s stream|flood ADDRESS [PER_SECOND SECONDS]\n", argv[0]);
    return 2;
  }
  std::string mode = argv[1];
  FakeDevice dev(argv[2]);
  if (!dev.listening()) {
    std::fprintf(stderr, "cannot listen on %s\n", argv[2]);
    return 2;
  }
  Say("ready");
  if (!dev.accept(10000) || !dev.acceptPairing()) return 1;

  if (mode == "stream") {
    ServeMedia(dev, 1 << 30, 60000);
    return 0;
  }
  if (mode != "flood" || argc < 5) return 2;
  const long perSecond = std::atol(argv[3]);
  const long seconds = std::atol(argv[4]);
  // Batches every 10 ms, each one frame after another in one send.
  const long batch = perSecond / 100;
  std::vector<unsigned char> burst;
  for (long i = 0; i < batch; ++i) {
    std::vector<unsigned char> f = FakeDevice::frameBytes(TDMSG_KEEPALIVE);
    burst.insert(burst.end(), f.begin(), f.end());
  }
  Say("flood-start");
  long sent = 0;
  const std::int64_t start = plat::monotonicUs();
  for (long tick = 0; tick < seconds * 100; ++tick) {
    if (!dev.sendRaw(burst)) break;
    sent += batch;
    // The sender's own keep-alives (8 bytes a pass) wait in our receive
    // buffer meanwhile; five seconds of them fit many times over.
    std::int64_t due = start + (tick + 1) * 10000LL;
    std::int64_t now = plat::monotonicUs();
    if (due > now) plat::sleepMs(static_cast<int>((due - now) / 1000));
  }
  Say("flood-done " + std::to_string(sent));
  return ServeMedia(dev, 10, 10000) >= 10 ? 0 : 1;
}
