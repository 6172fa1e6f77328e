// An Xlib connection of our own, safe to lose.
//
// Xlib's default handlers end the process on any protocol error and on a
// lost server. A library cannot allow that, so connections opened here are
// registered with handlers (installed once, chaining to whatever was there
// before for connections that are not ours) that record errors instead, and
// mark the connection dead when the server goes away.
#pragma once
#include <X11/Xlib.h>

#include <memory>

namespace plat::x11 {

class Connection {
 public:
  // Null when no display can be reached (DISPLAY unset or unreachable).
  static std::unique_ptr<Connection> Open();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Display* display() const { return dpy_; }
  // The server went away; every request from now on fails.
  bool dead() const { return dead_; }

  // Protocol errors are counted from ClearErrors() on. Errors arrive while
  // Xlib waits for a reply or in XSync, on the thread using the connection.
  void ClearErrors() { errors_ = 0; }
  bool HadErrors() const { return errors_ != 0; }

 private:
  explicit Connection(Display* dpy);
  static int OnError(Display* dpy, XErrorEvent* event);
  static int OnIoError(Display* dpy);
  static void OnIoErrorExit(Display* dpy, void* self);

  Display* dpy_;
  bool dead_ = false;
  int errors_ = 0;
};

}  // namespace plat::x11
