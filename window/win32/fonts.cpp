#include "window/win32/fonts.h"

#include <cwchar>

namespace window {
namespace {

void Delete(HFONT font) {
  if (font != nullptr) ::DeleteObject(font);
}

}  // namespace

UINT DpiOf(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpi != nullptr) {
    if (const UINT dpi = getDpi(hwnd)) return dpi;
  }
  HDC dc = ::GetDC(hwnd);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(hwnd, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

Fonts::~Fonts() {
  Delete(text_);
  Delete(fixed_);
}

void Fonts::Make(UINT dpi) {
  NONCLIENTMETRICSW metrics{sizeof metrics};
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  LOGFONTW face = metrics.lfMessageFont;
  face.lfHeight = -::MulDiv(9, static_cast<int>(dpi), 72);
  HFONT text = ::CreateFontIndirectW(&face);
  LOGFONTW fixed{};
  fixed.lfHeight = face.lfHeight;
  fixed.lfCharSet = DEFAULT_CHARSET;
  fixed.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  wcscpy(fixed.lfFaceName, L"Consolas");
  HFONT fixedFont = ::CreateFontIndirectW(&fixed);
  Delete(text_);
  Delete(fixed_);
  text_ = text;
  fixed_ = fixedFont;
}

}  // namespace window
