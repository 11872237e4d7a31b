// The details of the folder selected and the log below the tree: two
// read-only edit boxes in a fixed font, filled only with what changed.
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
