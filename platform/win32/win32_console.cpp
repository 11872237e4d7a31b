// The console of a tree tool started from Explorer (a double-click, or a
// folder dropped onto the exe): a console of its own, which closes as soon
// as the program ends.
#include <windows.h>

#include <string>

#include "platform/tree_os.h"
#include "platform/win32/win32_text.h"

namespace os::tree {
namespace {

// Longer lines are cut here: no path is longer.
constexpr size_t kLongestLine = win32::kLongestPath;

bool IsConsoleHandle(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

bool IsOwnConsole() {
  // Explorer gives the program a console no other process shares; a command
  // prompt's console holds the prompt too.
  DWORD processes[2];
  if (::GetConsoleProcessList(processes, 2) != 1) return false;
  return IsConsoleHandle(::GetStdHandle(STD_INPUT_HANDLE)) &&
         IsConsoleHandle(::GetStdHandle(STD_OUTPUT_HANDLE));
}

// Reads console input up to the end of a line (Enter). *line gets what was
// typed before it, up to kLongestLine units.
bool ReadLineUnits(std::wstring* line) {
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  wchar_t units[256];
  DWORD n = 0;
  bool any = false;
  while (::ReadConsoleW(input, units, 256, &n, nullptr) && n > 0) {
    any = true;
    for (DWORD i = 0; i < n; ++i) {
      if (units[i] == L'\n') return true;
      if (units[i] != L'\r' && line->size() < kLongestLine) line->push_back(units[i]);
    }
  }
  return any;
}

bool ReadConsoleLine(std::string* line) {
  std::wstring wide;
  line->clear();
  if (!ReadLineUnits(&wide)) return false;
  line->resize(win32::WideToUtf8(wide.data(), wide.size(), nullptr, 0));
  win32::WideToUtf8(wide.data(), wide.size(), line->data(), line->size());
  return true;
}

void WaitForEnterKey() {
  Write(Stream::Out, "Press Enter to close this window.\n");
  // What was typed during the run is not the answer.
  ::FlushConsoleInputBuffer(::GetStdHandle(STD_INPUT_HANDLE));
  std::wstring ignored;
  ReadLineUnits(&ignored);
}

}  // namespace

Console& TheConsole() {
  static Console console{IsOwnConsole, ReadConsoleLine, WaitForEnterKey};
  return console;
}

}  // namespace os::tree
