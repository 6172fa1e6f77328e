// X11 back-end of the screen metrics: the root window is the desktop, RandR
// names the monitors and which one is primary.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "platform/screen_metrics.h"
#include "x11_connection.h"

namespace plat {

bool QueryScreenMetrics(ScreenMetrics* out) {
  std::unique_ptr<x11::Connection> conn = x11::Connection::Open();
  if (!conn) return false;
  Display* dpy = conn->display();
  Window root = DefaultRootWindow(dpy);
  XWindowAttributes attrs;
  if (!XGetWindowAttributes(dpy, root, &attrs)) return false;
  ScreenMetrics m;
  m.desktop = {0, 0, attrs.width, attrs.height};
  m.primary = m.desktop;
  m.monitorCount = 0;

  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (XRRQueryExtension(dpy, &eventBase, &errorBase) && XRRQueryVersion(dpy, &major, &minor) &&
      (major > 1 || (major == 1 && minor >= 5))) {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(dpy, root, True, &count);
    if (monitors != nullptr) {
      // The primary monitor, or the first one when none is marked primary.
      int pick = -1;
      for (int i = 0; i < count; ++i) {
        if (monitors[i].primary) {
          pick = i;
          break;
        }
      }
      if (pick < 0 && count > 0) pick = 0;
      if (pick >= 0) {
        const XRRMonitorInfo& mon = monitors[pick];
        m.primary = {mon.x, mon.y, mon.x + mon.width, mon.y + mon.height};
      }
      m.monitorCount = count;
      for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& mon = monitors[i];
        MonitorArea a;
        if (char* name = XGetAtomName(dpy, mon.name)) {
          a.name = name;
          XFree(name);
        }
        a.rect = {mon.x, mon.y, mon.x + mon.width, mon.y + mon.height};
        a.primary = mon.primary != 0;
        m.monitors.push_back(a);
      }
      XRRFreeMonitors(monitors);
    }
  }
  if (conn->dead()) return false;
  *out = m;
  return true;
}

}  // namespace plat
