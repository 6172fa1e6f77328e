// Sharing a Wayland desktop: a private headless sway with PipeWire and the
// desktop portal (scripts/wayland-session), the test pattern full-screen in
// a small Wayland client, and the capture through the portal's screen cast:
// in-process for the planes, and tandeo-cli --share against tandeo-device
// --record for the whole way, the kept permission and a declined one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "media/capture.h"
#include "media/scaler.h"
#include "pattern.h"

namespace {

constexpr int kScreenW = 1920, kScreenH = 1080;
constexpr int kCounter = 7;  // the frame of the pattern the client shows

// A child process with its standard output in a pipe.
struct Child {
  pid_t pid = -1;
  int out = -1;

  static Child Start(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
      dup2(fds[1], 1);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(fds[1]);
    return Child{pid, fds[0]};
  }

  // One line of output, waiting up to ms.
  std::string ReadLine(int ms) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{out, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      char c;
      if (read(out, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }

  void Stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      for (int i = 0; i < 50 && waitpid(pid, nullptr, WNOHANG) == 0; ++i) usleep(20000);
      if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
    if (out >= 0) close(out);
    pid = -1;
    out = -1;
  }
};

// Runs a shell command; its exit status and standard output.
int Shell(const std::string& command, std::string* output = nullptr) {
  FILE* f = popen(command.c_str(), "r");
  if (!f) return -1;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  int status = pclose(f);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The pattern the client shows, as 32-bit pixels.
std::vector<std::uint8_t> PatternPixels() {
  std::vector<std::uint8_t> bgrx(static_cast<std::size_t>(kScreenW) * kScreenH * 4);
  pattern::Renderer renderer;
  renderer.render(kCounter, kScreenW, kScreenH, bgrx.data(), kScreenW * 4);
  pattern::drawStamp(pattern::Stamp{0, kCounter}, kScreenW, bgrx.data(), kScreenW * 4);
  return bgrx;
}

class WaylandCast : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = "/tmp/tandeo-wayland-" + std::to_string(getpid());
    const std::string script = std::string(TANDEO_SOURCE_DIR) + "/scripts/wayland-session";
    std::string out;
    const int rc = Shell("TANDEO_WAYLAND_LIFETIME=240 TANDEO_XDPW_SHIM='" + std::string(TANDEO_XDPW_SHIM) + "' '" +
                           script + "' start " + dir_ + " 1920x1080 2>&1",
                       &out);
    // 2: the machine lacks what the session needs; anything else that is
    // not 0 is a fault.
    if (rc == 2) {
      skip_ = "no headless Wayland session can be made here: " + out;
      return;
    }
    if (rc != 0) {
      failure_ = "the headless Wayland session did not start:\n" + out;
      return;
    }
    // This process and every child take the session's variables.
    std::istringstream env(ReadFile(dir_ + "/env"));
    std::string word;
    while (env >> word) {
      const std::size_t eq = word.find('=');
      if (eq != std::string::npos) setenv(word.substr(0, eq).c_str(), word.substr(eq + 1).c_str(), 1);
    }
    unsetenv("DISPLAY");
    setenv("TANDEO_CAPTURE", "portal", 1);
    client_ = Child::Start({std::string(TANDEO_TEST_BIN) + "/wl-pattern-client", "--counter",
                            std::to_string(kCounter), "--fps", "5", "--still", "--seconds", "200"});
    const std::string ready = client_.ReadLine(10000);
    if (ready != "ready 1920x1080") failure_ = "the pattern client did not come up: '" + ready + "'";
  }

  static void TearDownTestSuite() {
    client_.Stop();
    if (!dir_.empty()) {
      Shell("'" + std::string(TANDEO_SOURCE_DIR) + "/scripts/wayland-session' stop " + dir_);
      if (!getenv("TANDEO_KEEP_WAYLAND_DIR")) Shell("rm -rf " + dir_);
    }
  }

  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    ASSERT_TRUE(failure_.empty()) << failure_;
  }

  // Resizes the compositor's output; the full-screen client follows.
  static int SetOutputSize(const std::string& size) {
    return Shell("SWAYSOCK=$(ls " + dir_ + "/run/sway-ipc.*.sock) swaymsg -q output HEADLESS-1 resolution " + size);
  }

  static std::string TokenFile() { return std::string(getenv("XDG_CONFIG_HOME")) + "/tandeo/settings/screencast-token"; }

  // tandeo-cli --share for two seconds against a device on 127.0.140.x
  // that records to `record` when given.
  static int Share(const std::string& address, const std::string& record, std::string* output) {
    std::vector<std::string> device = {std::string(TANDEO_BIN) + "/tandeo-device", "--bind", address};
    if (!record.empty()) {
      device.push_back("--record");
      device.push_back(record);
    }
    Child recorder = Child::Start(device);
    usleep(300000);
    const int rc = Shell("timeout 30 '" + std::string(TANDEO_BIN) + "/tandeo-cli' " + address +
                           " --share --duration 2 2>/dev/null",
                       output);
    recorder.Stop();
    return rc;
  }

  static std::string dir_, skip_, failure_;
  static Child client_;
};

std::string WaylandCast::dir_, WaylandCast::skip_, WaylandCast::failure_;
Child WaylandCast::client_;

// The planes that CaptureFrame produces from the screen cast are those of
// the pattern on the screen: the full-size planes exactly, the scaled ones
// at the asked size; a change of the screen's size mid-stream is followed.
TEST_F(WaylandCast, PlanesMatchThePatternOnTheScreen) {
  auto capture = std::make_unique<CCapture>();
  capture->setOutputSize(1280, 720);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (capture->frameSize().width == 0 && std::chrono::steady_clock::now() < end) {
    capture->CaptureFrame();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  std::string why;
  ASSERT_FALSE(capture->castRefused(&why)) << why;
  ASSERT_EQ(capture->grabSize().width, kScreenW);
  ASSERT_EQ(capture->grabSize().height, kScreenH);
  ASSERT_EQ(capture->frameSize().width, 1280);
  ASSERT_EQ(capture->frameSize().height, 720);

  // The screen may still have shown the empty desktop in the first picture:
  // give the cast a moment, then take the newest.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  capture->CaptureFrame();

  std::vector<std::uint8_t> bgrx = PatternPixels();
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kScreenW) * kScreenH * 3);
  for (std::size_t i = 0, n = static_cast<std::size_t>(kScreenW) * kScreenH; i < n; ++i) {
    std::memcpy(&rgb[3 * i], &bgrx[4 * i], 3);
  }
  std::vector<std::uint8_t> y(kScreenW * kScreenH), u(kScreenW * kScreenH / 4), v(kScreenW * kScreenH / 4);
  Rgb24ToI420(rgb.data(), y.data(), u.data(), v.data(), kScreenW, kScreenH, kScreenW, kScreenW / 2, 3 * kScreenW,
              false);
  std::size_t differentY = 0, differentUV = 0;
  for (std::size_t i = 0; i < y.size(); ++i) differentY += capture->fullY()[i] != y[i];
  for (std::size_t i = 0; i < u.size(); ++i) differentUV += (capture->fullU()[i] != u[i]) + (capture->fullV()[i] != v[i]);
  EXPECT_EQ(differentY, 0u) << "luma samples unlike the pattern's";
  EXPECT_EQ(differentUV, 0u) << "chroma samples unlike the pattern's";
  // Known places: the stamp's first sync cells (white, black) and the
  // middle of the picture.
  EXPECT_EQ(capture->fullY()[5 * kScreenW + 10], y[5 * kScreenW + 10]);
  EXPECT_GT(capture->fullY()[5 * kScreenW + 10], 200);
  EXPECT_LT(capture->fullY()[5 * kScreenW + 40], 40);

  e2e::LumaSample scaled;
  scaled.width = 1280;
  scaled.height = 720;
  scaled.stampCounter = kCounter;
  scaled.y.assign(capture->scaledY(), capture->scaledY() + 1280 * 720);
  pattern::Stamp stamp;
  ASSERT_TRUE(pattern::readStamp(scaled.y.data(), 1280, 1280, 720, &stamp));
  EXPECT_EQ(stamp.counter, kCounter);
  EXPECT_GE(e2e::patternPsnr(scaled, kScreenW, kScreenH), 35.0);

  // The output changes its size mid-stream: the picture follows the client
  // to the new size (through pictures of the compositor's change-over).
  ASSERT_EQ(SetOutputSize("1280x720"), 0);
  const auto changeEnd = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  bool followed = false;
  while (!followed && std::chrono::steady_clock::now() < changeEnd) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    capture->CaptureFrame();
    const CCapture::Size grab = capture->grabSize();
    pattern::Stamp small;
    followed = grab.width == 1280 && grab.height == 720 &&
               pattern::readStamp(capture->fullY(), 1280, 1280, 720, &small) && small.counter == kCounter;
  }
  EXPECT_TRUE(followed) << "the picture did not follow the screen to 1280x720";
  EXPECT_EQ(capture->frameSize().width, 1280);
  EXPECT_EQ(capture->frameSize().height, 720);
  ASSERT_EQ(SetOutputSize("1920x1080"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

// tandeo-cli --share streams the Wayland screen: the recording decodes with
// FFmpeg at 1280x720 and shows the pattern. The portal's restore token is
// kept, and a second share starts from it although the portal would now
// refuse a new selection. Without a kept permission the share is refused:
// sharing ends with the message, and the pairing stays.
TEST_F(WaylandCast, ShareStreamsThePatternKeepsThePermissionAndSurvivesARefusal) {
  const std::string record = dir_ + "/first.h264";
  std::string out;
  ASSERT_EQ(Share("127.0.140.2", record, &out), 0) << out;
  EXPECT_NE(out.find("sharing the screen through the desktop portal"), std::string::npos) << out;

  // The last decoded picture (the screen is still) against the pattern.
  std::string yuv;
  ASSERT_EQ(Shell("ffmpeg -v error -i " + record + " -f rawvideo -pix_fmt yuv420p - 2>/dev/null", &yuv), 0);
  std::string size;
  Shell("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 " + record, &size);
  EXPECT_EQ(size, "1280,720\n");
  const std::size_t frameBytes = 1280 * 720 * 3 / 2;
  ASSERT_GE(yuv.size(), frameBytes);
  e2e::LumaSample last;
  last.width = 1280;
  last.height = 720;
  // The screen is still, so the last pictures all show it; the very last
  // may have been cut short when the device was stopped.
  const std::size_t pictures = yuv.size() / frameBytes;
  pattern::Stamp stamp;
  bool found = false;
  for (std::size_t back = 1; back <= std::min<std::size_t>(5, pictures) && !found; ++back) {
    const auto* y = reinterpret_cast<const std::uint8_t*>(yuv.data()) + (pictures - back) * frameBytes;
    last.y.assign(y, y + 1280 * 720);
    found = pattern::readStamp(last.y.data(), 1280, 1280, 720, &stamp);
  }
  ASSERT_TRUE(found) << "the pattern's stamp is in none of the last 5 of " << pictures << " pictures";
  EXPECT_EQ(stamp.counter, kCounter);
  last.stampCounter = stamp.counter;
  EXPECT_GE(e2e::patternPsnr(last, kScreenW, kScreenH), 30.0);

  const std::string token = ReadFile(TokenFile());
  ASSERT_FALSE(token.empty()) << "no restore token kept";

  // From now on the portal asks its chooser, which picks nothing.
  ASSERT_EQ(Shell("'" + std::string(TANDEO_SOURCE_DIR) + "/scripts/wayland-session' chooser " + dir_ + " deny"), 0);
  ASSERT_EQ(Share("127.0.140.3", "", &out), 0) << "the kept permission was not used:\n" << out;
  EXPECT_EQ(out.find("not permitted"), std::string::npos) << out;

  // No kept permission: refused.
  std::remove(TokenFile().c_str());
  EXPECT_EQ(Share("127.0.140.4", "", &out), 1) << out;
  const std::size_t refused = out.find("screen sharing not permitted");
  ASSERT_NE(refused, std::string::npos) << out;
  EXPECT_NE(out.find("stream stopped, still paired", refused), std::string::npos) << out;
  EXPECT_EQ(out.find("connection lost"), std::string::npos) << out;
  EXPECT_TRUE(ReadFile(TokenFile()).empty()) << "a refused share kept a token";

  // Through the session interface: the refusal ends the stream, the
  // pairing stays, and a new start asks the portal again.
  Child device = Child::Start({std::string(TANDEO_BIN) + "/tandeo-device", "--bind", "127.0.140.5"});
  usleep(300000);
  {
    e2e::Sender sender;
    ASSERT_TRUE(sender.pair("127.0.140.5"));
    for (int attempt = 0; attempt < 2; ++attempt) {
      ASSERT_TRUE(sender.startStream()) << "attempt " << attempt;
      EXPECT_TRUE(sender.waitFor(SELECT_THREAD_EVENT_CAPTURE_REFUSED, -1, 10000)) << "attempt " << attempt;
      EXPECT_TRUE(sender.waitFor(SELECT_THREAD_EVENT_STOP_ENC, -1, 5000)) << "attempt " << attempt;
    }
  }
  device.Stop();

  ASSERT_EQ(Shell("'" + std::string(TANDEO_SOURCE_DIR) + "/scripts/wayland-session' chooser " + dir_ + " none"), 0);
}

}  // namespace
