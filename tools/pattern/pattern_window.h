// A full-screen X11 window that shows the test pattern: override-redirect,
// at 0,0, the size of the screen, with an invisible pointer over it. Each
// frame is rendered off-screen and put on the screen with one image request
// (shared memory where the server offers it), so that a screen grab always
// sees a whole frame. The frames are drawn on a thread of the window's own.
//
//   pattern::PatternWindow w({.fps = 60});
//   std::string error;
//   if (!w.start(&error)) ...;  // the first frame is on the screen
//   ...
//   w.stop();                   // thread joined, window gone
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/sync.h"
#include "platform/thread.h"

namespace pattern {

struct PatternWindowOptions {
  int fps = 60;               // frames drawn a second
  int periodMs = 0;           // > 0: one frame every periodMs instead
  int stampFps = 0;           // > 0: between frames, the stamp row alone is
                              // redrawn with the time this often a second
  double seconds = -1;        // draw for this long; < 0 until stopped
  bool still = false;         // draw one frame and keep it
  bool grain = false;         // fine noise, new in every frame (addGrain)
  std::string display;        // empty: $DISPLAY
};

class PatternWindow {
 public:
  explicit PatternWindow(PatternWindowOptions options);
  ~PatternWindow();  // stops
  PatternWindow(const PatternWindow&) = delete;
  PatternWindow& operator=(const PatternWindow&) = delete;

  // Opens the display, maps the window, draws frame 0 and starts the drawing
  // thread. False, with the reason in *error, when the display cannot be
  // reached or its screen is not 24-bit TrueColor. Starts at most once.
  bool start(std::string* error = nullptr);
  // Ends the drawing, joins the thread and closes the window. Safe to call
  // more than once, and without start().
  void stop();
  // Waits until the drawing thread has ended by itself (its seconds are
  // over) or was stopped; then closes the window as stop() does.
  void join();
  // True while the drawing thread runs.
  bool running() const { return running_; }

  int width() const { return width_; }
  int height() const { return height_; }
  std::uint64_t framesDrawn() const { return framesDrawn_; }
  bool sharedMemory() const;

  struct X;  // the window's X11 state

 private:
  static std::uint32_t threadMain(void* self);
  void drawLoop();
  void drawFrame(std::uint16_t counter);
  void drawStampOnly(std::uint16_t counter);
  void closeWindow();

  PatternWindowOptions options_;
  std::unique_ptr<X> x_;
  int width_ = 0;
  int height_ = 0;
  plat::Thread thread_;
  plat::AutoResetEvent wake_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> running_{false};
  std::atomic<std::uint64_t> framesDrawn_{0};
  bool started_ = false;
};

}  // namespace pattern
