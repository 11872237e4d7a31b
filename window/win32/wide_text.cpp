#include "window/win32/wide_text.h"

#include "platform/wide_text.h"

namespace window {

std::wstring Wide(std::string_view text) {
  const size_t length = os::Utf8ToWide(text.data(), text.size(), nullptr, 0);
  if (length == os::kNotUtf8) {
    // Not UTF-8 (a name the manifest leaves out): each byte as itself.
    return std::wstring(text.begin(), text.end());
  }
  std::wstring wide(length, L'\0');
  os::Utf8ToWide(text.data(), text.size(), wide.data(), length);
  return wide;
}

std::string Utf8(std::wstring_view text) { return os::Utf8(text.data(), text.size()); }

std::wstring WideLines(std::string_view text) {
  std::wstring wide = Wide(text);
  std::wstring lines;
  lines.reserve(wide.size() + wide.size() / 16);
  for (wchar_t c : wide) {
    if (c == L'\n' && (lines.empty() || lines.back() != L'\r')) lines.push_back(L'\r');
    lines.push_back(c);
  }
  return lines;
}

}  // namespace window
