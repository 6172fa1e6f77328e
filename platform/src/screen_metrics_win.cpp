// Win32 back-end of the screen metrics: the desktop window is the primary
// screen, the monitors come from the display's own list.
#include <windows.h>

#include <string>

#include "platform/screen_metrics.h"

namespace plat {

namespace {

ScreenRect FromRect(const RECT& r) { return ScreenRect{r.left, r.top, r.right, r.bottom}; }

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
  MONITORINFOEXW info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(monitor, &info)) return TRUE;
  MonitorArea a;
  a.name = Utf8(info.szDevice);
  a.rect = FromRect(info.rcMonitor);
  a.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
  reinterpret_cast<std::vector<MonitorArea>*>(list)->push_back(a);
  return TRUE;
}

}  // namespace

// The primary screen is the desktop window's rectangle (origin 0, 0, the
// size GetSystemMetrics gives); the whole desktop is the virtual screen,
// which starts left of or above 0, 0 when a monitor lies there.
bool QueryScreenMetrics(ScreenMetrics* out) {
  RECT desk;
  if (!GetWindowRect(GetDesktopWindow(), &desk) || GetSystemMetrics(SM_CXSCREEN) <= 0) return false;
  ScreenMetrics m;
  m.primary = FromRect(desk);
  const int vx = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int vy = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int vw = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int vh = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  m.desktop = vw > 0 && vh > 0 ? ScreenRect{vx, vy, vx + vw, vy + vh} : m.primary;
  EnumDisplayMonitors(nullptr, nullptr, &AddMonitor, reinterpret_cast<LPARAM>(&m.monitors));
  m.monitorCount = static_cast<int>(m.monitors.size());
  *out = m;
  return true;
}

}  // namespace plat
