// CPU per received picture of a 1920x1080 screen cast through the desktop
// portal: ours (the PipeWire stream of the portal back-end, taking each new
// picture in place and giving it back, as the capture does around its
// conversion) beside GStreamer's pipewiresrc taking a cast
// of the same screen into a fakesink. Needs a Wayland session with the
// portal and a moving screen (bench/run-capture provides them).
// Usage: portal_bench [PICTURES]   prints "ours_us N", "gst_us N"
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/screen_cast.h"
#include "portal_session.h"

namespace {

double CpuSeconds(const rusage& r) {
  return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Ours: pictures counted by the stream, CPU of this whole process.
bool MeasureOurs(int pictures, double* usPerPicture) {
  plat::PortalGrabber grabber;
  plat::XrgbImage image;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  // Settle: the first pictures come with the stream's negotiation.
  while (grabber.picturesReceived() < 10 && std::chrono::steady_clock::now() < end) {
    if (grabber.GrabXrgb(&image) == plat::GrabResult::Failed) {
      std::fprintf(stderr, "portal_bench: %s\n", grabber.error().c_str());
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const std::uint64_t first = grabber.picturesReceived();
  while (grabber.picturesReceived() < first + static_cast<std::uint64_t>(pictures) &&
         std::chrono::steady_clock::now() < end) {
    // Taken and given back, as the capture does around its conversion.
    // At the codec thread's pace for a 30 fps stream.
    if (grabber.GrabXrgb(&image) == plat::GrabResult::Ok) grabber.EndGrab();
    std::this_thread::sleep_for(std::chrono::milliseconds(33));
  }
  getrusage(RUSAGE_SELF, &after);
  const std::uint64_t got = grabber.picturesReceived() - first;
  if (got == 0) return false;
  *usPerPicture = (CpuSeconds(after) - CpuSeconds(before)) * 1e6 / static_cast<double>(got);
  return true;
}

// GStreamer: its own portal session's stream, num-buffers pictures; the CPU
// seconds of the whole gst-launch-1.0 run.
bool GstRun(int pictures, double* cpuSeconds) {
  std::atomic<bool> stop{false};
  plat::portal::Session session(&stop);
  plat::portal::CastGrant grant;
  std::string error;
  if (session.Open("", &grant, &error) != plat::portal::Outcome::Ok) {
    std::fprintf(stderr, "portal_bench: %s\n", error.c_str());
    return false;
  }
  // The child inherits the descriptor.
  fcntl(grant.pipewireFd, F_SETFD, 0);
  const std::string fd = "fd=" + std::to_string(grant.pipewireFd);
  const std::string path = "path=" + std::to_string(grant.nodeId);
  const std::string buffers = "num-buffers=" + std::to_string(pictures);
  pid_t pid = fork();
  if (pid == 0) {
    // The same packed formats ours offers.
    execlp("gst-launch-1.0", "gst-launch-1.0", "-q", "pipewiresrc", fd.c_str(), path.c_str(), buffers.c_str(),
           "!", "video/x-raw,format={BGRx,BGRA,RGBx,RGBA}", "!", "fakesink", "sync=false",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(grant.pipewireFd);
  int status = 0;
  rusage usage{};
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  pid_t done = 0;
  while ((done = wait4(pid, &status, WNOHANG, &usage)) == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (done == 0) {
    kill(pid, SIGKILL);
    wait4(pid, &status, 0, &usage);
    std::fprintf(stderr, "portal_bench: gst-launch-1.0 took longer than 60 s\n");
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "portal_bench: gst-launch-1.0 failed\n");
    return false;
  }
  *cpuSeconds = CpuSeconds(usage);
  return true;
}

// Start-up (plugin loading, negotiation) is taken out: the difference of a
// long and a short run, per picture.
bool MeasureGst(int pictures, double* usPerPicture) {
  constexpr int kShort = 10;
  double longRun = 0, shortRun = 0;
  if (!GstRun(kShort, &shortRun) || !GstRun(kShort + pictures, &longRun)) return false;
  *usPerPicture = (longRun - shortRun) * 1e6 / pictures;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int pictures = argc > 1 ? std::atoi(argv[1]) : 150;
  double ours = 0, gst = 0;
  if (!MeasureOurs(pictures, &ours)) return 1;
  std::printf("ours_us %.0f\n", ours);
  std::fflush(stdout);
  if (!MeasureGst(pictures, &gst)) return 1;
  std::printf("gst_us %.0f\n", gst);
  return 0;
}
