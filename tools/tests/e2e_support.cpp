#include "e2e_support.h"

#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "pattern.h"

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

int entriesOf(const char* dir) {
  DIR* d = opendir(dir);
  if (!d) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
  }
  closedir(d);
  return n;
}

// Rows below the stamp row that the sender's 4-tap scaler and the codec's
// deblocking mix with it.
constexpr int kStampMarginRows = 4;

}  // namespace

bool PatternScreen::start(int width, int height, const pattern::PatternWindowOptions& options,
                          std::string* error) {
  server_ = std::make_unique<plat_test::TestXServer>();
  if (!server_->Start(std::to_string(width) + "x" + std::to_string(height) + "x24")) {
    *error = server_->error();
    return false;
  }
  setenv("DISPLAY", server_->display().c_str(), 1);
  window_ = std::make_unique<pattern::PatternWindow>(options);
  return window_->start(error);
}

PatternScreen::~PatternScreen() {
  window_.reset();
  server_.reset();
}

Sender::Sender() : handle_(CreateTDSdkHandle()) {
  char password[64] = {};
  if (handle_) TDS_SetPassword(handle_, password);
}

Sender::~Sender() {
  if (!handle_) return;
  TDS_Disconnect(handle_);
  DestroyTDSdkHandle(handle_);
}

void Sender::shareArea(int width, int height) {
  TDS_SetSysMetric(handle_, width, height);
  CaptureHandler capture = TDS_GetSetCaptureHandler(handle_);
  const TDS_RECT area{0, 0, width, height};
  capture.setCaptureArea(capture.capture, &area);
}

void TDS_CALL Sender::onEvent(void* self, int event, int value) {
  static_cast<Sender*>(self)->events_.push(cli::SessionEvent{event, value, 0});
}

bool Sender::waitFor(int event, int value, int timeoutMs) {
  const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) return false;
    cli::SessionEvent e;
    if (!events_.pop(&e, static_cast<int>(left))) return false;
    if (e.event == event && (value < 0 || e.value == value)) return true;
  }
}

bool Sender::pair(const std::string& address, int timeoutMs) {
  if (!handle_) return false;
  if (TDS_AttemptToPair(handle_, address.c_str(), this, &Sender::onEvent) == TDS_FAILED) return false;
  return waitFor(SELECT_THREAD_EVENT_CONNSTATUS_CHANGE, TDH239_CONNECTION_OK, timeoutMs);
}

bool Sender::startStream(int timeoutMs) {
  TDS_ReqToStartEncoding(handle_);
  return waitFor(SELECT_THREAD_EVENT_START_ENC, -1, timeoutMs);
}

bool Sender::stopStream(int timeoutMs) {
  TDS_ReqToStopEncoding(handle_);
  return waitFor(SELECT_THREAD_EVENT_STOP_ENC, -1, timeoutMs);
}

void Sender::disconnect() { TDS_Disconnect(handle_); }

void PictureLog::observe(const device::DecodedFrame& f) {
  std::lock_guard<std::mutex> g(m_);
  records_.push_back(PictureRecord{f.decodedUs, f.width, f.height, f.idr, f.stampCounter});
  if (f.stampCounter < 0 || sampleEvery_ <= 0) return;
  if (stamped_++ % static_cast<std::uint64_t>(sampleEvery_) != 0 || samples_.size() >= maxSamples_) return;
  LumaSample s;
  s.width = f.width;
  s.height = f.height;
  s.stampCounter = f.stampCounter;
  s.y.resize(static_cast<std::size_t>(f.width) * f.height);
  for (int row = 0; row < f.height; ++row)
    std::memcpy(s.y.data() + static_cast<std::size_t>(row) * f.width, f.y + static_cast<std::ptrdiff_t>(row) * f.yStride,
                static_cast<std::size_t>(f.width));
  samples_.push_back(std::move(s));
}

std::vector<PictureRecord> PictureLog::records() const {
  std::lock_guard<std::mutex> g(m_);
  return records_;
}

std::size_t PictureLog::count() const {
  std::lock_guard<std::mutex> g(m_);
  return records_.size();
}

void PictureLog::sample(int every, std::size_t maxSamples) {
  std::lock_guard<std::mutex> g(m_);
  sampleEvery_ = every;
  maxSamples_ = maxSamples;
}

std::vector<LumaSample> PictureLog::takeSamples() {
  std::lock_guard<std::mutex> g(m_);
  sampleEvery_ = 0;
  std::vector<LumaSample> out;
  out.swap(samples_);
  return out;
}

double patternPsnr(const LumaSample& s, int screenWidth, int screenHeight, int frameOffset) {
  std::vector<std::uint8_t> bgrx(static_cast<std::size_t>(s.width) * s.height * 4);
  pattern::Renderer renderer;
  renderer.render(static_cast<std::uint16_t>(s.stampCounter + frameOffset), s.width, s.height, bgrx.data(), s.width * 4);
  std::vector<std::uint8_t> expected(static_cast<std::size_t>(s.width) * s.height);
  pattern::bgrxToLuma(bgrx.data(), s.width * 4, s.width, s.height, expected.data(), s.width);
  // The stamp row as the sender scaled it down from the screen, which can
  // be taller than the decoded picture's own where the aspect changed.
  const int scaledStampRows = (pattern::stampRows(screenWidth) * s.height + screenHeight - 1) / screenHeight;
  const int from = std::max(pattern::stampRows(s.width), scaledStampRows) + kStampMarginRows;
  return pattern::lumaPsnr(s.y.data(), s.width, expected.data(), s.width, s.width, from, s.height);
}

int threadCount() { return entriesOf("/proc/self/task"); }
int openDescriptors() { return entriesOf("/proc/self/fd"); }

}  // namespace e2e
