#include "fault_support.h"

// Before Xlib, whose macros (None, Bool) clash with gtest's names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

#include "platform/clock.h"
#include "platform/thread.h"
#include "tdwire.h"

extern char** environ;

namespace fault {

long RssKiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1) break;
  }
  std::fclose(f);
  return kib;
}

int ThreadCount() {
  DIR* d = opendir("/proc/self/task");
  if (!d) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

int ThreadBaseline() {
  std::thread([] {}).join();
  return ThreadCount();
}

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
  std::int64_t deadline = plat::monotonicUs() + timeoutMs * 1000LL;
  for (;;) {
    if (pred()) return true;
    if (plat::monotonicUs() >= deadline) return false;
    plat::sleepMs(10);
  }
}

bool UnderAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}

std::vector<unsigned char> ParamsRecord(std::uint32_t code, std::uint32_t fps, std::uint32_t divisor,
                                        std::uint32_t bitRate, std::uint32_t profile) {
  std::vector<unsigned char> r(TD_ENC_PARAMS_WIRE_SIZE, 0);
  td_put_be32(r.data() + 0, 3);
  td_put_be32(r.data() + 4, code);
  td_put_be32(r.data() + 8, profile);
  td_put_be32(r.data() + 12, fps);
  td_put_be32(r.data() + 16, divisor);
  td_put_be32(r.data() + 20, bitRate);
  td_put_be32(r.data() + 24, 1400);
  return r;
}

bool MediaReceiver::take(const Frame& frame) {
  const std::vector<unsigned char>& p = frame.payload;
  if (frame.type != TDMSG_MEDIA || p.size() < TD_RTP_HEADER_SIZE + 1) return false;
  std::uint16_t seq = static_cast<std::uint16_t>(p[2] << 8 | p[3]);
  if (packets_ == 0) {
    firstSeq_ = seq;
    int nal = p[12] & 0x1F;
    firstNal_ = nal == 28 ? (p[13] & 0x1F) : nal;
  } else if (seq != static_cast<std::uint16_t>(lastSeq_ + 1)) {
    ++seqGaps_;
  }
  lastSeq_ = seq;
  ++packets_;
  bytes_ += p.size();
  depacketiser_.Write(p.data(), static_cast<std::int32_t>(p.size()));
  auto& pictures = depacketiser_.pictures();
  for (; handed_ < pictures.size(); ++handed_) decoder_.Decode(AnnexB(pictures[handed_]), &decoded_);
  return true;
}

std::vector<std::string> MediaReceiver::errors() const {
  std::vector<std::string> all = depacketiser_.errors();
  for (const std::string& e : decoder_.errors()) all.push_back("decoder: " + e);
  if (seqGaps_) all.push_back(std::to_string(seqGaps_) + " sequence gaps");
  return all;
}

bool NoisePainter::start() {
  Display* probe = XOpenDisplay(nullptr);
  if (probe == nullptr) return false;
  XCloseDisplay(probe);
  run_ = true;
  thread_ = std::thread([this] {
    Display* dpy = XOpenDisplay(nullptr);
    if (dpy == nullptr) return;
    int screen = DefaultScreen(dpy);
    Window root = RootWindow(dpy, screen);
    const int side = 256;
    XImage* img = XCreateImage(dpy, DefaultVisual(dpy, screen), static_cast<unsigned>(DefaultDepth(dpy, screen)),
                               ZPixmap, 0, nullptr, side, side, 32, 0);
    img->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(img->bytes_per_line) * side));
    GC gc = XCreateGC(dpy, root, 0, nullptr);
    std::minstd_rand rng(7);
    while (run_) {
      // A fresh block of noise at a random place, some 40 times a second:
      // every grabbed frame differs from the one before all over.
      for (int i = 0; i < 12; ++i) {
        for (int y = 0; y < side; ++y) {
          auto* row = reinterpret_cast<std::uint32_t*>(img->data + y * img->bytes_per_line);
          for (int x = 0; x < side; ++x) row[x] = static_cast<std::uint32_t>(rng()) & 0xffffff;
        }
        int x = static_cast<int>(rng() % 1920), y = static_cast<int>(rng() % 1080);
        XPutImage(dpy, root, gc, img, 0, 0, x - side / 2, y - side / 2, side, side);
      }
      XSync(dpy, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    XFreeGC(dpy, gc);
    XDestroyImage(img);
    XCloseDisplay(dpy);
  });
  return true;
}

void NoisePainter::stop() {
  run_ = false;
  if (thread_.joinable()) thread_.join();
}

bool SetScreenSize(int width, int height) {
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) return false;
  Window root = DefaultRootWindow(dpy);
  XRRScreenResources* res = XRRGetScreenResources(dpy, root);
  bool ok = res != nullptr && res->ncrtc > 0 && res->noutput > 0 && res->nmode > 0;
  if (ok) {
    // The one mode is the full size; any other size needs the output off,
    // as the screen may not be smaller than an active output.
    const XRRModeInfo& mode = res->modes[0];
    bool full = static_cast<int>(mode.width) == width && static_cast<int>(mode.height) == height;
    XRRSetCrtcConfig(dpy, res, res->crtcs[0], CurrentTime, 0, 0, None, RR_Rotate_0, nullptr, 0);
    XRRSetScreenSize(dpy, root, width, height, width * 254 / 960, height * 254 / 960);
    if (full) {
      RROutput output = res->outputs[0];
      XRRSetCrtcConfig(dpy, res, res->crtcs[0], CurrentTime, 0, 0, mode.id, RR_Rotate_0, &output, 1);
    }
    XSync(dpy, False);
    XWindowAttributes a;
    ok = XGetWindowAttributes(dpy, root, &a) && a.width == width && a.height == height;
  }
  if (res) XRRFreeScreenResources(res);
  XCloseDisplay(dpy);
  return ok;
}

bool PeerProcess::start(const std::vector<std::string>& args, int timeoutMs) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  std::vector<std::string> all{TANDEO_FAULT_PEER};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int rc = posix_spawn(&pid_, TANDEO_FAULT_PEER, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    pid_ = -1;
    return false;
  }
  out_ = fds[0];
  std::string line;
  return readLine(line, timeoutMs) && line == "ready";
}

bool PeerProcess::readLine(std::string& line, int timeoutMs) {
  std::int64_t deadline = plat::monotonicUs() + timeoutMs * 1000LL;
  for (;;) {
    std::size_t nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return true;
    }
    int left = static_cast<int>((deadline - plat::monotonicUs()) / 1000);
    if (out_ < 0 || left <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    char chunk[256];
    ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffered_.append(chunk, static_cast<std::size_t>(n));
  }
}

void PeerProcess::kill() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
  if (out_ >= 0) close(out_);
  out_ = -1;
}

int PeerProcess::wait(int timeoutMs) {
  if (pid_ <= 0) return -1;
  std::int64_t deadline = plat::monotonicUs() + timeoutMs * 1000LL;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (plat::monotonicUs() >= deadline) return -1;
    plat::sleepMs(10);
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace fault

namespace fault {

void PairWith(TDSdkHandle h, FakeDevice& dev, const char* address, EventLog& log) {
  ASSERT_TRUE(dev.listening()) << address;
  TDS_AttemptToPair(h, address, &log, &EventLog::callback);
  ASSERT_TRUE(dev.accept());
  ASSERT_TRUE(dev.acceptPairing());
  ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_H239STATUS_CHANGE, TDH239_AUTHORIZED));
}

void StartEncoding(TDSdkHandle h, FakeDevice& dev, EventLog& log, const std::vector<unsigned char>& params) {
  TDS_ReqToStartEncoding(h);
  Frame f;
  ASSERT_TRUE(dev.readFrame(f));
  ASSERT_EQ(f.type, unsigned(TDMSG_START_ENCODING_REQ));
  ASSERT_TRUE(dev.sendFrame(TDMSG_START_ENCODING_ACK, params));
  ASSERT_TRUE(log.waitFor(SELECT_THREAD_EVENT_START_ENC, 0));
}

bool NextMedia(FakeDevice& dev, Frame& f, int timeoutMs) {
  // A device answers with keep-alives, or the session gives it up after 8 s.
  static thread_local std::map<const FakeDevice*, std::int64_t> lastKeepAlive;
  std::int64_t& last = lastKeepAlive[&dev];
  if (plat::monotonicUs() - last > 500000) {
    dev.sendFrame(TDMSG_KEEPALIVE);
    last = plat::monotonicUs();
  }
  std::int64_t deadline = plat::monotonicUs() + timeoutMs * 1000LL;
  for (;;) {
    int left = static_cast<int>((deadline - plat::monotonicUs()) / 1000);
    if (left <= 0 || !dev.readFrame(f, left)) return false;
    if (f.type == TDMSG_MEDIA) return true;
  }
}

bool ReceivePictures(FakeDevice& dev, MediaReceiver& rx, std::size_t n, int timeoutMs) {
  Frame f;
  while (rx.decoded().size() < n) {
    if (!NextMedia(dev, f, timeoutMs)) return false;
    rx.take(f);
  }
  return true;
}

bool NextRunStart(FakeDevice& dev, Frame& f, int timeoutMs) {
  do {
    if (!NextMedia(dev, f, timeoutMs)) return false;
  } while ((f.payload[2] << 8 | f.payload[3]) != 1);
  return true;
}

void CaptureWholeScreen(TDSdkHandle h) {
  CaptureHandler capture = TDS_GetSetCaptureHandler(h);
  TDS_RECT screen{0, 0, 1920, 1080};
  capture.setCaptureArea(capture.capture, &screen);
}

int CountEvents(EventLog& log, int event, int value) {
  int n = 0;
  for (auto& e : log.events()) n += e.first == event && e.second == value;
  return n;
}

}  // namespace fault
