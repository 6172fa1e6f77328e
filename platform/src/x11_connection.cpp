#include "x11_connection.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace plat::x11 {
namespace {

std::mutex registryLock;
std::vector<Connection*>* registry;  // our live connections
XErrorHandler previousError;
XIOErrorHandler previousIoError;

Connection* Find(Display* dpy) {
  std::lock_guard<std::mutex> g(registryLock);
  if (registry == nullptr) return nullptr;
  for (Connection* c : *registry) {
    if (c->display() == dpy) return c;
  }
  return nullptr;
}

}  // namespace

Connection::Connection(Display* dpy) : dpy_(dpy) {}

std::unique_ptr<Connection> Connection::Open() {
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) return nullptr;
  std::unique_ptr<Connection> c(new Connection(dpy));
  {
    std::lock_guard<std::mutex> g(registryLock);
    if (registry == nullptr) {
      registry = new std::vector<Connection*>;
      previousError = XSetErrorHandler(&Connection::OnError);
      previousIoError = XSetIOErrorHandler(&Connection::OnIoError);
    }
    registry->push_back(c.get());
  }
  XSetIOErrorExitHandler(dpy, &Connection::OnIoErrorExit, c.get());
  return c;
}

Connection::~Connection() {
  XCloseDisplay(dpy_);
  std::lock_guard<std::mutex> g(registryLock);
  registry->erase(std::remove(registry->begin(), registry->end(), this), registry->end());
}

int Connection::OnError(Display* dpy, XErrorEvent* event) {
  if (Connection* c = Find(dpy)) {
    ++c->errors_;
    return 0;
  }
  return previousError != nullptr ? previousError(dpy, event) : 0;
}

int Connection::OnIoError(Display* dpy) {
  // For our connections return, so that Xlib goes on to the per-connection
  // exit handler below instead of ending the process.
  if (Find(dpy) != nullptr) return 0;
  return previousIoError != nullptr ? previousIoError(dpy) : 0;
}

void Connection::OnIoErrorExit(Display*, void* self) { static_cast<Connection*>(self)->dead_ = true; }

}  // namespace plat::x11
