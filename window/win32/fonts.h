// The window's DPI and the two fonts its controls show at it: the system's
// message font at 9 points, and a fixed font for the details and the log.
#pragma once

#include <windows.h>

namespace window {

// The DPI the window is shown at (per monitor where Windows tells it).
UINT DpiOf(HWND hwnd);

class Fonts {
 public:
  Fonts() = default;
  ~Fonts();
  Fonts(const Fonts&) = delete;
  Fonts& operator=(const Fonts&) = delete;

  // Both made again for dpi; the fonts made before are deleted.
  void Make(UINT dpi);
  HFONT Text() const { return text_; }
  HFONT Fixed() const { return fixed_; }

 private:
  HFONT text_ = nullptr;
  HFONT fixed_ = nullptr;
};

}  // namespace window
