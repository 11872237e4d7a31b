// A control of the window, made with the window's instance and its
// identifier (resource.h's IDC_), at no size until the layout places it.
#pragma once

#include <windows.h>

namespace window {

inline HWND Child(HWND parent, const wchar_t* kind, const wchar_t* text, DWORD style, unsigned id,
                  DWORD exStyle = 0) {
  return ::CreateWindowExW(exStyle, kind, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                           reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                           nullptr);
}

}  // namespace window
