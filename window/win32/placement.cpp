#include "window/win32/placement.h"

#include <algorithm>

namespace window {

UINT MonitorDpi(HMONITOR monitor) {
  // shcore.dll's GetDpiForMonitor is not on every Windows the window runs on.
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const auto getDpi = [] {
    HMODULE shcore = ::LoadLibraryW(L"shcore.dll");
    return shcore == nullptr ? nullptr
                             : reinterpret_cast<GetDpiForMonitorFn>(
                                   reinterpret_cast<void*>(::GetProcAddress(shcore, "GetDpiForMonitor")));
  }();
  UINT x = 0, y = 0;
  constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
  if (getDpi != nullptr && SUCCEEDED(getDpi(monitor, kEffectiveDpi, &x, &y)) && y != 0) return y;
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

RECT Landed(RECT rect, UINT savedDpi) {
  HMONITOR monitor = ::MonitorFromRect(&rect, MONITOR_DEFAULTTONULL);
  const bool nowhere = monitor == nullptr;
  if (nowhere) monitor = ::MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{sizeof info};
  if (!::GetMonitorInfoW(monitor, &info)) return rect;
  const RECT& work = info.rcWork;
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  // The same size to the eye: pixels of the DPI it was saved at, in the
  // pixels of the monitor's.
  if (savedDpi != 0) {
    const int dpi = static_cast<int>(MonitorDpi(monitor));
    width = ::MulDiv(width, dpi, static_cast<int>(savedDpi));
    height = ::MulDiv(height, dpi, static_cast<int>(savedDpi));
  }
  width = std::min<int>(width, work.right - work.left);
  height = std::min<int>(height, work.bottom - work.top);
  if (nowhere) {
    rect.left = std::clamp<int>(rect.left, work.left, work.right - width);
    rect.top = std::clamp<int>(rect.top, work.top, work.bottom - height);
  }
  return {rect.left, rect.top, rect.left + width, rect.top + height};
}

}  // namespace window
