// The details of the folder selected and the log below the tree: two
// read-only edit boxes in a fixed font, filled only with what changed; long
// lines wrap, and the vertical bar shows only while the text needs it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace window {

class TextPanes {
 public:
  void Create(HWND parent);
  HWND Details() const { return details_; }
  HWND Log() const { return log_; }
  void SetFont(HFONT font);
  // Each pane's bar shown or hidden for what it holds at its size (after
  // the layout moved them).
  void FitBars();
  // Both emptied, for a new ROOT.
  void Clear();
  // text (CR LF lines) in the details box, unless it shows it already.
  void ShowDetails(const std::wstring& text);
  // The lines of log not shown yet, added at its end.
  void AppendLog(const std::vector<std::string>& log);

 private:
  HWND details_ = nullptr;
  HWND log_ = nullptr;
  size_t logShown_ = 0;
};

}  // namespace window
