// The whole-tree tool's operating-system needs on Windows. Texts cross this
// file as UTF-8 and reach Windows as UTF-16; files are opened through the
// seam, so that they take the same path forms as every other file.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <string>

#include "platform/tree_os.h"
#include "platform/tree_watch.h"
#include "platform/win32/win32_text.h"

namespace os::tree {
namespace {

volatile LONG g_interrupted = 0;
HANDLE g_cleanedUp = nullptr;  // set once the temporary files are gone
DWORD g_outputError = 0;

// Conversions by the back-end's own rules, so that a name or path takes the
// same form here as in every listing (an unpaired surrogate included).
std::wstring Wide(std::string_view text) {
  const size_t units = win32::Utf8ToWide(text.data(), text.size(), nullptr, 0);
  if (units == win32::kNotUtf8) return std::wstring();
  std::wstring wide(units, L'\0');
  win32::Utf8ToWide(text.data(), text.size(), wide.data(), units);
  return wide;
}

std::string Utf8(const wchar_t* wide, size_t length) {
  std::string text(win32::WideToUtf8(wide, length, nullptr, 0), '\0');
  win32::WideToUtf8(wide, length, text.data(), text.size());
  return text;
}

HANDLE StreamHandle(Stream stream) {
  return ::GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  ::InterlockedExchange(&g_interrupted, 1);
  WakeTreeWatch();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // Closing the console, logging off or shutting down ends the process once
  // this returns: give the main thread time to remove its temporary files.
  if (g_cleanedUp != nullptr) ::WaitForSingleObject(g_cleanedUp, 4000);
  return TRUE;
}

}  // namespace

std::vector<std::string> CommandLine(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(Utf8(wide[i], static_cast<size_t>(lstrlenW(wide[i]))));
  ::LocalFree(wide);
  return args;
}

void Write(Stream stream, std::string_view text) {
  HANDLE handle = StreamHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
  if (stream == Stream::Out && g_outputError != 0) return;
  // A closed pipe or a full disk: standard error has nothing left to say it
  // with; a failed standard output ends the run.
  auto failed = [stream] {
    const DWORD error = ::GetLastError();
    if (stream == Stream::Out) g_outputError = error != 0 ? error : ERROR_WRITE_FAULT;
  };
  if (IsConsole(handle)) {
    const std::wstring wide = Wide(text);
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

Dword OutputError() { return g_outputError; }

bool ProcessRuns(unsigned long pid) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return ::GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool runs = !::GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
  ::CloseHandle(process);
  return runs;
}

bool IsTerminal(Stream stream) { return IsConsole(StreamHandle(stream)); }

bool FullPath(const std::string& path, std::string* full, Dword* error) {
  const std::wstring wide = Wide(path);
  if (wide.empty()) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    *error = ::GetLastError();
    return false;
  }
  std::wstring result(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, result.data(), nullptr);
  if (length == 0 || length >= needed) {
    *error = length == 0 ? ::GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  result.resize(length);
  // A trailing separator (other than a drive root's) is not part of the
  // folder's name.
  while (result.size() > 3 && (result.back() == L'\\' || result.back() == L'/')) result.pop_back();
  *full = Utf8(result.data(), result.size());
  return true;
}

bool TemporaryStaysOpen() { return true; }

Dword TemporaryAccess() { return GENERIC_WRITE | DELETE; }

bool MarkForDeletion(Handle file, bool mark) {
  FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(mark ? TRUE : FALSE)};
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

bool ReplaceByHandle(Handle file, const std::string& target, Dword* error) {
  // A rename by handle takes the target's full NT path.
  std::wstring path = Wide(target);
  if (path.rfind(L"\\\\?\\", 0) == 0) {
    path = L"\\??\\" + path.substr(4);
  } else if (path.rfind(L"\\\\", 0) == 0) {
    path = L"\\??\\UNC\\" + path.substr(2);
  } else {
    path = L"\\??\\" + path;
  }
  const size_t size = sizeof(FILE_RENAME_INFO) + path.size() * sizeof(wchar_t);
  std::string buffer(size, '\0');
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, path.data(), path.size() * sizeof(wchar_t));
  if (!::FlushFileBuffers(file) || !MarkForDeletion(file, false)) {
    *error = ::GetLastError();
    return false;
  }
  if (!::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(size))) {
    *error = ::GetLastError();
    MarkForDeletion(file, true);
    return false;
  }
  return true;
}

Dword SyncFiles(const std::vector<std::string>& paths, const std::vector<const FolderHandle*>&) {
  // Flushing any handle of a file writes all of its cached data.
  const os::Platform& platform = os::Os();
  Dword first = 0;
  for (const std::string& path : paths) {
    Handle file = platform.CreateFileA(path.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == InvalidHandle()) {
      if (first == 0) first = platform.GetLastError();
      continue;
    }
    if (!platform.FlushFileBuffers(file) && first == 0) first = platform.GetLastError();
    platform.CloseHandle(file);
  }
  return first;
}

size_t SyncBatchSize() { return 1; }

// NTFS writes a rename to its log itself; there is no call to batch.
void SyncFolders(const std::vector<const FolderHandle*>&) {}

void WatchInterrupts() {
  g_cleanedUp = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted() { return ::InterlockedCompareExchange(&g_interrupted, 0, 0) != 0; }

void EndInterrupted() {
  if (g_cleanedUp != nullptr) ::SetEvent(g_cleanedUp);
  // The status a process ended by Ctrl-C has.
  ::ExitProcess(InterruptEndsWatchNow() ? 0 : STATUS_CONTROL_C_EXIT);
}

void WaitForEnterIfOwnConsole() {
  DWORD processes[2];
  if (::GetConsoleProcessList(processes, 2) != 1) return;
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (!IsConsole(input)) return;
  Write(Stream::Err, "Press Enter to close this window.\n");
  ::FlushConsoleInputBuffer(input);
  wchar_t c[64];
  DWORD n = 0;
  while (::ReadConsoleW(input, c, 64, &n, nullptr) && n > 0) {
    bool newline = false;
    for (DWORD i = 0; i < n; ++i) newline = newline || c[i] == L'\r' || c[i] == L'\n';
    if (newline) break;
  }
}

double Seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void SleepMilliseconds(unsigned milliseconds) { ::Sleep(milliseconds); }

}  // namespace os::tree
