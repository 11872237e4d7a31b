// The system's message for a Win32 error.
#include <windows.h>

#include "platform/system_error.h"
#include "platform/win32/win32_text.h"

namespace os {
namespace {

// The message in the given language; "" when the system has none there.
std::string MessageIn(Dword error, DWORD language) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, language, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (length != 0 && text != nullptr) {
    message.resize(win32::WideToUtf8(text, length, nullptr, 0));
    win32::WideToUtf8(text, length, message.data(), message.size());
  }
  if (text != nullptr) ::LocalFree(text);
  return message;
}

}  // namespace

std::string SystemErrorText(Dword error) {
  // English, as the rest of the tools' messages are; else the system's own
  // language.
  std::string text = MessageIn(error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (text.empty()) text = MessageIn(error, 0);
  // One line, without the final period and line end.
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
  return text;
}

}  // namespace os
