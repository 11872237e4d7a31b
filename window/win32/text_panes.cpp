#include "window/win32/text_panes.h"

#include <commctrl.h>

#include <algorithm>

#include "window/win32/child_window.h"
#include "window/win32/resource.h"
#include "window/win32/wide_text.h"

namespace window {

namespace {

// The vertical bar of an edit box shown only while its lines are more than
// it shows; a long line wraps, so it never needs a horizontal one. (An edit
// box keeps the bar it was made with, greyed, however little it holds.)
void FitBar(HWND edit) {
  RECT client;
  ::GetClientRect(edit, &client);
  HDC dc = ::GetDC(edit);
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(edit, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, old);
  ::ReleaseDC(edit, dc);
  const LONG lineHeight = std::max<LONG>(1, metrics.tmHeight);
  const LRESULT lines = ::SendMessageW(edit, EM_GETLINECOUNT, 0, 0);
  const bool shown = (::GetWindowLongW(edit, GWL_STYLE) & WS_VSCROLL) != 0;
  // Shown, the bar narrows the box and the lines may wrap into more: it
  // goes only when they fit even so.
  const LONG room = client.bottom / lineHeight;
  if (lines > room && !shown) {
    ::ShowScrollBar(edit, SB_VERT, TRUE);
  } else if (shown && lines <= room) {
    ::ShowScrollBar(edit, SB_VERT, FALSE);
  }
}

}  // namespace

void TextPanes::Create(HWND parent) {
  const DWORD readOnlyText = WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;
  details_ = Child(parent, WC_EDITW, L"", readOnlyText, IDC_DETAILS, WS_EX_CLIENTEDGE);
  log_ = Child(parent, WC_EDITW, L"", readOnlyText, IDC_LOG, WS_EX_CLIENTEDGE);
  ::SendMessageW(log_, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  FitBars();
}

void TextPanes::FitBars() {
  FitBar(details_);
  FitBar(log_);
}

void TextPanes::SetFont(HFONT font) {
  for (HWND control : {details_, log_}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  FitBars();
}

void TextPanes::Clear() {
  ::SetWindowTextW(details_, L"");
  ::SetWindowTextW(log_, L"");
  logShown_ = 0;
  FitBars();
}

void TextPanes::ShowDetails(const std::wstring& text) {
  const int length = ::GetWindowTextLengthW(details_);
  std::wstring shown(static_cast<size_t>(length) + 1, L'\0');
  ::GetWindowTextW(details_, shown.data(), length + 1);
  shown.resize(static_cast<size_t>(length));
  if (shown == text) return;
  ::SetWindowTextW(details_, text.c_str());
  FitBar(details_);
}

void TextPanes::AppendLog(const std::vector<std::string>& log) {
  if (logShown_ >= log.size()) return;
  std::string text;
  for (; logShown_ < log.size(); ++logShown_) text += log[logShown_] + "\n";
  const std::wstring lines = WideLines(text);
  const int end = ::GetWindowTextLengthW(log_);
  ::SendMessageW(log_, EM_SETSEL, end, end);
  ::SendMessageW(log_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(lines.c_str()));
  FitBar(log_);
}

}  // namespace window
