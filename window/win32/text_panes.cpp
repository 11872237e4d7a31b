#include "window/win32/text_panes.h"

#include <commctrl.h>

#include "window/win32/child_window.h"
#include "window/win32/resource.h"
#include "window/win32/wide_text.h"

namespace window {

void TextPanes::Create(HWND parent) {
  const DWORD readOnlyText = WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                             ES_AUTOVSCROLL | ES_AUTOHSCROLL;
  details_ = Child(parent, WC_EDITW, L"", readOnlyText, IDC_DETAILS, WS_EX_CLIENTEDGE);
  log_ = Child(parent, WC_EDITW, L"", readOnlyText, IDC_LOG, WS_EX_CLIENTEDGE);
  ::SendMessageW(log_, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
}

void TextPanes::SetFont(HFONT font) {
  for (HWND control : {details_, log_}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
}

void TextPanes::Clear() {
  ::SetWindowTextW(details_, L"");
  ::SetWindowTextW(log_, L"");
  logShown_ = 0;
}

void TextPanes::ShowDetails(const std::wstring& text) {
  const int length = ::GetWindowTextLengthW(details_);
  std::wstring shown(static_cast<size_t>(length) + 1, L'\0');
  ::GetWindowTextW(details_, shown.data(), length + 1);
  shown.resize(static_cast<size_t>(length));
  if (shown != text) ::SetWindowTextW(details_, text.c_str());
}

void TextPanes::AppendLog(const std::vector<std::string>& log) {
  if (logShown_ >= log.size()) return;
  std::string text;
  for (; logShown_ < log.size(); ++logShown_) text += log[logShown_] + "\n";
  const std::wstring lines = WideLines(text);
  const int end = ::GetWindowTextLengthW(log_);
  ::SendMessageW(log_, EM_SETSEL, end, end);
  ::SendMessageW(log_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(lines.c_str()));
}

}  // namespace window
