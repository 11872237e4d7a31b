// The command line, the standard streams and the console on Windows. A tool
// started from Explorer (a double-click, or a folder dropped onto the exe)
// has a console of its own, which closes as soon as the program ends.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "platform/console.h"
#include "platform/process_control.h"
#include "platform/win32/win32_output.h"
#include "platform/win32/win32_text.h"

namespace os {
namespace {

// Longer lines are cut here: no path is longer.
constexpr size_t kLongestLine = win32::kLongestPath;

// Standard output is gathered, console or not, and written in pieces of up
// to this many bytes, at the latest with the first write this long after
// the last piece; and whenever standard error is written (so that the two
// keep their order), before any wait, at the end and on a stop.
constexpr size_t kGatheredBytes = 64 * 1024;
constexpr double kGatherSeconds = 0.05;

DWORD g_outputError = 0;
SRWLOCK g_outputLock = SRWLOCK_INIT;
std::string g_gathered;
double g_gatheredSince = 0;
bool g_writeThrough = false;  // a wait may come at any time: nothing is held

HANDLE StreamHandle(Stream stream) {
  return ::GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsoleHandle(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

enum class StreamKind : char { Unasked, Missing, Console, Other };

// What the stream is, asked once.
StreamKind KindOf(Stream stream) {
  static StreamKind kinds[2] = {StreamKind::Unasked, StreamKind::Unasked};
  StreamKind& kind = kinds[stream == Stream::Out ? 0 : 1];
  if (kind == StreamKind::Unasked) {
    const HANDLE handle = StreamHandle(stream);
    kind = handle == nullptr || handle == INVALID_HANDLE_VALUE ? StreamKind::Missing
           : IsConsoleHandle(handle)                           ? StreamKind::Console
                                                               : StreamKind::Other;
  }
  return kind;
}

// Writes text to the stream at once: to a console as UTF-16, elsewhere as
// bytes. A closed pipe or a full disk: standard error has nothing left to
// say it with; a failed standard output ends the run.
void WriteNow(Stream stream, std::string_view text) {
  const StreamKind kind = KindOf(stream);
  if (kind == StreamKind::Missing || text.empty()) return;
  if (stream == Stream::Out && g_outputError != 0) return;
  HANDLE handle = StreamHandle(stream);
  auto failed = [stream] {
    const DWORD error = ::GetLastError();
    if (stream == Stream::Out) g_outputError = error != 0 ? error : ERROR_WRITE_FAULT;
  };
  if (kind == StreamKind::Console) {
    const std::wstring wide = win32::Wide(text);
    DWORD written = 0;
    if (!::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) {
      failed();
    }
    return;
  }
  while (!text.empty()) {
    DWORD written = 0;
    if (!::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written == 0) {
      failed();
      return;
    }
    text.remove_prefix(written);
  }
}

// Writes what standard output has gathered; the lock held.
void FlushGathered() {
  g_gatheredSince = Seconds();
  if (g_gathered.empty()) return;
  std::string text;
  text.swap(g_gathered);
  WriteNow(Stream::Out, text);
}

// Standard output gathered is written when the program ends by returning
// from main.
struct FlushAtEnd {
  ~FlushAtEnd() { win32::FlushOutput(); }
} g_flushAtEnd;

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
  win32::FlushOutput();
  std::wstring wide;
  line->clear();
  if (!ReadLineUnits(&wide)) return false;
  line->resize(win32::WideToUtf8(wide.data(), wide.size(), nullptr, 0));
  win32::WideToUtf8(wide.data(), wide.size(), line->data(), line->size());
  return true;
}

void WaitForEnterKey() {
  Write(Stream::Out, "Press Enter to close this window.\n");
  win32::FlushOutput();
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


std::vector<std::string> CommandLine(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(win32::Utf8(wide[i], static_cast<size_t>(lstrlenW(wide[i]))));
  ::LocalFree(wide);
  return args;
}

void Write(Stream stream, std::string_view text) {
  // Once interrupted, the run ends as soon as it can: nothing more is
  // written, so that no write waits on an output that takes nothing.
  if (text.empty() || Interrupted()) return;
  ::AcquireSRWLockExclusive(&g_outputLock);
  if (stream == Stream::Err) {
    FlushGathered();
    WriteNow(stream, text);
  } else if (g_outputError == 0 && KindOf(stream) != StreamKind::Missing) {
    g_gathered.append(text);
    if (g_writeThrough || g_gathered.size() >= kGatheredBytes ||
        Seconds() - g_gatheredSince >= kGatherSeconds) {
      FlushGathered();
    }
  }
  ::ReleaseSRWLockExclusive(&g_outputLock);
}

// Whether standard output has failed is known once what it gathered is
// written.
Dword OutputError() {
  win32::FlushOutput();
  return g_outputError;
}

bool IsTerminal(Stream stream) { return KindOf(stream) == StreamKind::Console; }

namespace win32 {

void FlushOutput() {
  ::AcquireSRWLockExclusive(&g_outputLock);
  FlushGathered();
  ::ReleaseSRWLockExclusive(&g_outputLock);
}

void OutputWaits() {
  ::AcquireSRWLockExclusive(&g_outputLock);
  g_writeThrough = true;
  FlushGathered();
  ::ReleaseSRWLockExclusive(&g_outputLock);
}

}  // namespace win32

void WaitForEnterIfOwnConsole() {
  DWORD processes[2];
  if (::GetConsoleProcessList(processes, 2) != 1) return;
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (!IsConsoleHandle(input)) return;
  Write(Stream::Err, "Press Enter to close this window.\n");
  win32::FlushOutput();
  ::FlushConsoleInputBuffer(input);
  wchar_t c[64];
  DWORD n = 0;
  while (::ReadConsoleW(input, c, 64, &n, nullptr) && n > 0) {
    bool newline = false;
    for (DWORD i = 0; i < n; ++i) newline = newline || c[i] == L'\r' || c[i] == L'\n';
    if (newline) break;
  }
}

}  // namespace os
