// The Win32 back-end: every entry passes to the system, converting only
// between the seam's plain types and the API's own. Narrow texts are UTF-8 at
// the seam: names and paths go to Windows as UTF-16 (the W functions, long
// paths in their \\?\ form) and come back as UTF-8, so the runtime sees every
// name exactly as the file system holds it, whatever the ANSI code page.
// MessageBoxA decodes its GBK texts here, so that they read correctly on
// every system.
#include <winsock2.h>
#include <windows.h>
#include <ole2.h>

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/platform.h"
#include "platform/win32/win32_listing.h"
#include "platform/win32/win32_output.h"
#include "platform/win32/win32_text.h"

namespace os::win32 {
namespace {

static_assert(sizeof(Dword) == sizeof(DWORD));
static_assert(sizeof(Bool) == sizeof(BOOL));
static_assert(sizeof(char16_t) == sizeof(WCHAR));
static_assert(sizeof(intptr_t) == sizeof(LRESULT));
static_assert(sizeof(uintptr_t) == sizeof(WPARAM));

Handle GetProcessHeap() { return ::GetProcessHeap(); }
void* HeapAlloc(Handle heap, Dword flags, size_t bytes) { return ::HeapAlloc(heap, flags, bytes); }
void* HeapReAlloc(Handle heap, Dword flags, void* block, size_t bytes) {
  return ::HeapReAlloc(heap, flags, block, bytes);
}
Bool HeapFree(Handle heap, Dword flags, void* block) { return ::HeapFree(heap, flags, block); }

// The module path of any length: asked again with more room until it fits.
// Zero when there is none or it is longer than any path can be.
DWORD WideModulePath(HMODULE module, WideBuffer* wide) {
  for (;;) {
    const auto capacity = static_cast<DWORD>(wide->capacity());
    const DWORD n = ::GetModuleFileNameW(module, wide->data(), capacity);
    if (n < capacity) return n;
    if (capacity >= kLongestPath) {
      ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    wide->Reserve(capacity * 2);
  }
}

// As Windows since Vista: a buffer too small gets the path cut short (here
// at a character's end) and terminated, the buffer's size as the result and
// ERROR_INSUFFICIENT_BUFFER.
Dword GetModuleFileNameA(Handle module, char* buffer, Dword size) {
  WideBuffer wide;
  const DWORD n = WideModulePath(static_cast<HMODULE>(module), &wide);
  if (n == 0) return 0;
  if (size == 0) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  size_t written = 0;
  const size_t bytes = WideToUtf8(wide.data(), n, buffer, size - 1, &written);
  buffer[written] = '\0';
  if (bytes < size) return static_cast<Dword>(bytes);
  ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

Bool SetCurrentDirectoryA(const char* path) {
  WideBuffer wide;
  return SystemPath(path, &wide) && ::SetCurrentDirectoryW(wide.data());
}

// The length without the terminator when the folder fits in size bytes,
// otherwise the size it needs, terminator included.
Dword GetCurrentDirectoryA(Dword size, char* buffer) {
  WideBuffer wide;
  DWORD n;
  for (;;) {
    const auto capacity = static_cast<DWORD>(wide.capacity());
    n = ::GetCurrentDirectoryW(capacity, wide.data());
    if (n == 0) return 0;
    if (n < capacity) break;
    wide.Reserve(n);  // n is the size needed; another thread may change it meanwhile
  }
  const size_t bytes = WideToUtf8(wide.data(), n, nullptr, 0);
  if (buffer == nullptr || bytes >= size) return static_cast<Dword>(bytes + 1);
  WideToUtf8(wide.data(), n, buffer, size - 1);
  buffer[bytes] = '\0';
  return static_cast<Dword>(bytes);
}

// The seam's narrow texts are UTF-8: the code page of CP_ACP, CP_OEMCP and
// CP_THREAD_ACP is UTF-8 to the runtime, whatever code page the system's own
// A functions use. Any other code page (the runtime's GBK texts) is the
// system's.
UINT Resolve(Dword codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP
             ? CP_UTF8
             : static_cast<UINT>(codePage);
}

Dword GetACP() { return CP_UTF8; }
Bool IsDBCSLeadByteEx(Dword codePage, uint8_t byte) {
  return ::IsDBCSLeadByteEx(Resolve(codePage), byte);
}
int MultiByteToWideChar(Dword codePage, Dword flags, const char* text, int length,
                        char16_t* wide, int wideLength) {
  return ::MultiByteToWideChar(Resolve(codePage), flags, text, length,
                               reinterpret_cast<LPWSTR>(wide), wideLength);
}
int WideCharToMultiByte(Dword codePage, Dword flags, const char16_t* wide, int wideLength,
                        char* text, int length, const char* defaultChar, Bool* usedDefault) {
  BOOL used = FALSE;
  int n = ::WideCharToMultiByte(Resolve(codePage), flags, reinterpret_cast<LPCWSTR>(wide),
                                wideLength, text, length, defaultChar,
                                usedDefault != nullptr ? &used : nullptr);
  if (usedDefault != nullptr) *usedDefault = used;
  return n;
}

// A name of up to 259 UTF-16 units is at most three UTF-8 bytes a unit.
static_assert(sizeof(FindDataA::cFileName) >= 3 * (MAX_PATH - 1) + 1);

void CopyFindData(const WIN32_FIND_DATAW& from, FindDataA* to) {
  to->dwFileAttributes = from.dwFileAttributes;
  const size_t length = wcsnlen(from.cFileName, MAX_PATH);
  size_t written = 0;
  WideToUtf8(from.cFileName, length, to->cFileName, sizeof to->cFileName - 1, &written);
  to->cFileName[written] = '\0';
}

Handle FindFirstFileA(const char* pattern, FindDataA* data) {
  WideBuffer wide;
  if (!SystemPath(pattern, &wide)) return INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileW(wide.data(), &found);
  if (h != INVALID_HANDLE_VALUE) CopyFindData(found, data);
  return h;
}
Handle FindFirstFileExA(const char* pattern, int infoLevel, FindDataA* data, int searchOp,
                        void* searchFilter, Dword additionalFlags) {
  WideBuffer wide;
  if (!SystemPath(pattern, &wide)) return INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstEx(wide.data(), static_cast<FINDEX_INFO_LEVELS>(infoLevel), &found,
                         static_cast<FINDEX_SEARCH_OPS>(searchOp), searchFilter, additionalFlags);
  if (h != INVALID_HANDLE_VALUE) CopyFindData(found, data);
  return h;
}
Bool FindNextFileA(Handle find, FindDataA* data) {
  WIN32_FIND_DATAW found;
  BOOL ok = ::FindNextFileW(find, &found);
  if (ok) CopyFindData(found, data);
  return ok;
}
Bool FindClose(Handle find) { return ::FindClose(find); }

// Whether the last failure was a file being deleted (STATUS_DELETE_PENDING
// behind ERROR_ACCESS_DENIED), which passes once its last opener closes it.
bool LastFailureIsDeletePending() {
  using LastNtStatus = LONG(WINAPI*)();
  static const auto lastStatus = [] {
    const DWORD error = ::GetLastError();
    FARPROC found = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus");
    ::SetLastError(error);
    return reinterpret_cast<LastNtStatus>(reinterpret_cast<void*>(found));
  }();
  return lastStatus != nullptr && static_cast<DWORD>(lastStatus()) == 0xC0000056u;
}

// Whether the file failed on is held by another opener for now: a sharing
// violation, or a delete still pending. For a rename or a delete (file given)
// a plain access denial counts too, unless the file is one that is always
// refused (read-only, a folder): such a denial comes from an opener as well.
bool HeldForNow(DWORD error, const wchar_t* file) {
  if (error == ERROR_SHARING_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  if (LastFailureIsDeletePending()) return true;
  if (file == nullptr) return false;
  const DWORD attributes = ::GetFileAttributesW(file);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

// Virus scanners and search indexers open a new or changed file for a
// moment. An attempt refused because of such an opener is made again after
// growing pauses, 630 ms in all, before the refusal stands; a file held for
// longer is refused as before. The last error is the last attempt's.
template <typename Attempt>
bool RetryWhileHeld(Attempt attempt, const wchar_t* file) {
  static constexpr DWORD kPauses[] = {10, 20, 40, 80, 160, 320};
  for (DWORD pause : kPauses) {
    if (attempt()) return true;
    const DWORD error = ::GetLastError();
    const bool held = HeldForNow(error, file);
    ::SetLastError(error);
    if (!held) return false;
    ::Sleep(pause);
  }
  return attempt();
}

Handle CreateFileA(const char* path, Dword access, Dword share, SecurityAttributes* security,
                   Dword disposition, Dword flagsAndAttributes, Handle templateFile) {
  WideBuffer wide;
  if (!SystemPath(path, &wide)) return INVALID_HANDLE_VALUE;
  SECURITY_ATTRIBUTES sa;
  if (security != nullptr) {
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = security->lpSecurityDescriptor;
    sa.bInheritHandle = security->bInheritHandle;
  }
  HANDLE h = INVALID_HANDLE_VALUE;
  RetryWhileHeld(
      [&] {
        h = ::CreateFileW(wide.data(), access, share, security != nullptr ? &sa : nullptr,
                          disposition, flagsAndAttributes, templateFile);
        return h != INVALID_HANDLE_VALUE;
      },
      nullptr);
  return h;
}
Bool WriteFile(Handle file, const void* bytes, Dword count, Dword* written, void* overlapped) {
  DWORD done = 0;
  BOOL ok = ::WriteFile(file, bytes, count, &done, static_cast<LPOVERLAPPED>(overlapped));
  if (written != nullptr) *written = done;
  return ok;
}
Bool FlushFileBuffers(Handle file) { return ::FlushFileBuffers(file); }
Bool CloseHandle(Handle object) { return ::CloseHandle(object); }
Dword GetFileAttributesA(const char* path) {
  WideBuffer wide;
  if (!SystemPath(path, &wide)) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(wide.data());
}
Bool MoveFileExA(const char* from, const char* to, Dword flags) {
  WideBuffer wideFrom, wideTo;
  if (!SystemPath(from, &wideFrom) || !SystemPath(to, &wideTo)) return FALSE;
  return RetryWhileHeld([&] { return ::MoveFileExW(wideFrom.data(), wideTo.data(), flags) != 0; },
                        wideTo.data());
}
Bool DeleteFileA(const char* path) {
  WideBuffer wide;
  if (!SystemPath(path, &wide)) return FALSE;
  return RetryWhileHeld([&] { return ::DeleteFileW(wide.data()) != 0; }, wide.data());
}
Dword GetLastError() { return ::GetLastError(); }

Dword GetCurrentThreadId() { return ::GetCurrentThreadId(); }
Dword GetCurrentProcessId() { return ::GetCurrentProcessId(); }
void ExitProcess(uint32_t exitCode) {
  // Neither the C library's buffers nor the back-end's standard output are
  // written by ExitProcess itself.
  std::fflush(nullptr);
  FlushOutput();
  ::ExitProcess(exitCode);
}
Dword SetErrorMode(Dword mode) { return ::SetErrorMode(mode); }
void fpreset() { _fpreset(); }
void DebugBreak() { ::DebugBreak(); }

Bool FreeLibrary(Handle module) { return ::FreeLibrary(static_cast<HMODULE>(module)); }
Handle LoadLibraryA(const char* name) {
  // A module's name, looked up by the loader; a path goes as it is given.
  WideBuffer wide;
  if (!WideText(name, &wide)) return nullptr;
  return ::LoadLibraryW(wide.data());
}
void* GetProcAddress(Handle module, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}
int WSACleanup() { return ::WSACleanup(); }
Dword WaitForSingleObject(Handle object, Dword milliseconds) {
  return ::WaitForSingleObject(object, milliseconds);
}

int32_t OleInitialize(void* reserved) { return ::OleInitialize(reserved); }
void OleUninitialize() { ::OleUninitialize(); }

Handle LoadCursorA(Handle instance, uintptr_t resource) {
  return ::LoadCursorA(static_cast<HINSTANCE>(instance), reinterpret_cast<LPCSTR>(resource));
}
Handle GetStockObject(int object) { return ::GetStockObject(object); }
uint16_t RegisterClassA(const WndClassA* windowClass) {
  WNDCLASSA wc{};
  wc.style = windowClass->style;
  wc.lpfnWndProc = reinterpret_cast<WNDPROC>(windowClass->lpfnWndProc);
  wc.hInstance = static_cast<HINSTANCE>(windowClass->hInstance);
  wc.hIcon = static_cast<HICON>(windowClass->hIcon);
  wc.hCursor = static_cast<HCURSOR>(windowClass->hCursor);
  wc.hbrBackground = static_cast<HBRUSH>(windowClass->hbrBackground);
  wc.lpszClassName = windowClass->lpszClassName;
  return ::RegisterClassA(&wc);
}
Bool UnregisterClassA(const char* className, Handle instance) {
  return ::UnregisterClassA(className, static_cast<HINSTANCE>(instance));
}
Handle CreateWindowExA(Dword exStyle, const char* className, const char* title, Dword style,
                       int x, int y, int width, int height, Handle parent, Handle menu,
                       Handle instance, void* param) {
  HWND hwnd = ::CreateWindowExA(exStyle, className, title, style, x, y, width, height,
                                static_cast<HWND>(parent), static_cast<HMENU>(menu),
                                static_cast<HINSTANCE>(instance), param);
  // Without a desktop (Wine with no display) no top-level window can be made.
  // A hidden one only ever receives messages, which a message-only window
  // does as well, so that is made instead.
  if (hwnd == nullptr && parent == nullptr && (style & WS_VISIBLE) == 0) {
    hwnd = ::CreateWindowExA(exStyle, className, title, style, x, y, width, height, HWND_MESSAGE,
                             static_cast<HMENU>(menu), static_cast<HINSTANCE>(instance), param);
  }
  return hwnd;
}
Bool IsWindow(Handle hwnd) { return ::IsWindow(static_cast<HWND>(hwnd)); }
intptr_t SendMessageA(Handle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return ::SendMessageA(static_cast<HWND>(hwnd), message, wParam, lParam);
}
Bool PostMessageA(Handle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return ::PostMessageA(static_cast<HWND>(hwnd), message, wParam, lParam);
}
void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

void ToMsg(const MSG& from, Msg* to) {
  to->hwnd = from.hwnd;
  to->message = from.message;
  to->wParam = from.wParam;
  to->lParam = from.lParam;
  to->time = from.time;
  to->ptX = from.pt.x;
  to->ptY = from.pt.y;
}
MSG FromMsg(const Msg& from) {
  MSG m{};
  m.hwnd = static_cast<HWND>(from.hwnd);
  m.message = from.message;
  m.wParam = from.wParam;
  m.lParam = from.lParam;
  m.time = from.time;
  m.pt.x = from.ptX;
  m.pt.y = from.ptY;
  return m;
}

Bool PeekMessageA(Msg* msg, Handle hwnd, uint32_t filterMin, uint32_t filterMax,
                  uint32_t removeFlags) {
  MSG m{};
  BOOL got = ::PeekMessageA(&m, static_cast<HWND>(hwnd), filterMin, filterMax, removeFlags);
  if (got) ToMsg(m, msg);
  return got;
}
Bool GetMessageA(Msg* msg, Handle hwnd, uint32_t filterMin, uint32_t filterMax) {
  MSG m{};
  BOOL result = ::GetMessageA(&m, static_cast<HWND>(hwnd), filterMin, filterMax);
  if (result != -1) ToMsg(m, msg);
  return result;
}
Bool TranslateMessage(const Msg* msg) {
  MSG m = FromMsg(*msg);
  return ::TranslateMessage(&m);
}
intptr_t DispatchMessageA(const Msg* msg) {
  MSG m = FromMsg(*msg);
  return ::DispatchMessageA(&m);
}
intptr_t DefWindowProcA(Handle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return ::DefWindowProcA(static_cast<HWND>(hwnd), message, wParam, lParam);
}
Bool DestroyWindow(Handle hwnd) { return ::DestroyWindow(static_cast<HWND>(hwnd)); }
Bool DestroyIcon(Handle icon) { return ::DestroyIcon(static_cast<HICON>(icon)); }
Handle GetModuleHandleA(const char* name) {
  if (name == nullptr) return ::GetModuleHandleW(nullptr);
  WideBuffer wide;
  if (!WideText(name, &wide)) return nullptr;
  return ::GetModuleHandleW(wide.data());
}

// The GBK table is made ready when the program starts: the box that reports
// an exhausted heap must not need memory to decode its texts.
[[maybe_unused]] const bool g_gbkReady = [] {
  wchar_t unit;
  return ::MultiByteToWideChar(936, 0, "\xB4\xED", 2, &unit, 1) == 1;
}();

// GBK bytes as UTF-16 for display, decoded into out (capacity units) without
// the heap, which may be what failed: a text longer than out is cut at a
// character's end. Null stays null.
const wchar_t* FromGbk(const char* text, wchar_t* out, int capacity) {
  if (text == nullptr) return nullptr;
  // No byte of code page 936 gives more than one UTF-16 unit: bytes up to the
  // capacity always fit.
  int length = 0;
  while (text[length] != '\0') {
    const int step =
        ::IsDBCSLeadByteEx(936, static_cast<BYTE>(text[length])) && text[length + 1] != '\0' ? 2
                                                                                            : 1;
    if (length + step > capacity - 1) break;
    length += step;
  }
  const int n = length > 0 ? ::MultiByteToWideChar(936, 0, text, length, out, capacity - 1) : 0;
  out[n > 0 ? n : 0] = L'\0';
  return out;
}

int MessageBoxA(Handle owner, const char* text, const char* caption, Dword style) {
  wchar_t wideText[4096];
  wchar_t wideCaption[256];
  const wchar_t* shown = text != nullptr ? FromGbk(text, wideText, 4096) : L"";
  return ::MessageBoxW(static_cast<HWND>(owner), shown,
                       FromGbk(caption, wideCaption, 256), style);
}

}  // namespace
}  // namespace os::win32

namespace os {

const Platform& NativePlatform() {
  using namespace os::win32;
  static constinit const Platform table = {
      .GetProcessHeap = win32::GetProcessHeap,
      .HeapAlloc = win32::HeapAlloc,
      .HeapReAlloc = win32::HeapReAlloc,
      .HeapFree = win32::HeapFree,
      .GetModuleFileNameA = win32::GetModuleFileNameA,
      .SetCurrentDirectoryA = win32::SetCurrentDirectoryA,
      .GetCurrentDirectoryA = win32::GetCurrentDirectoryA,
      .GetACP = win32::GetACP,
      .IsDBCSLeadByteEx = win32::IsDBCSLeadByteEx,
      .MultiByteToWideChar = win32::MultiByteToWideChar,
      .WideCharToMultiByte = win32::WideCharToMultiByte,
      .FindFirstFileA = win32::FindFirstFileA,
      .FindNextFileA = win32::FindNextFileA,
      .FindClose = win32::FindClose,
      .FindFirstFileExA = win32::FindFirstFileExA,
      .CreateFileA = win32::CreateFileA,
      .WriteFile = win32::WriteFile,
      .FlushFileBuffers = win32::FlushFileBuffers,
      .CloseHandle = win32::CloseHandle,
      .GetFileAttributesA = win32::GetFileAttributesA,
      .MoveFileExA = win32::MoveFileExA,
      .DeleteFileA = win32::DeleteFileA,
      .GetLastError = win32::GetLastError,
      .GetCurrentThreadId = win32::GetCurrentThreadId,
      .GetCurrentProcessId = win32::GetCurrentProcessId,
      .ExitProcess = win32::ExitProcess,
      .SetErrorMode = win32::SetErrorMode,
      .fpreset = win32::fpreset,
      .DebugBreak = win32::DebugBreak,
      .FreeLibrary = win32::FreeLibrary,
      .WSACleanup = win32::WSACleanup,
      .WaitForSingleObject = win32::WaitForSingleObject,
      .OleInitialize = win32::OleInitialize,
      .OleUninitialize = win32::OleUninitialize,
      .LoadCursorA = win32::LoadCursorA,
      .GetStockObject = win32::GetStockObject,
      .RegisterClassA = win32::RegisterClassA,
      .UnregisterClassA = win32::UnregisterClassA,
      .CreateWindowExA = win32::CreateWindowExA,
      .IsWindow = win32::IsWindow,
      .SendMessageA = win32::SendMessageA,
      .PostMessageA = win32::PostMessageA,
      .PostQuitMessage = win32::PostQuitMessage,
      .PeekMessageA = win32::PeekMessageA,
      .GetMessageA = win32::GetMessageA,
      .TranslateMessage = win32::TranslateMessage,
      .DispatchMessageA = win32::DispatchMessageA,
      .DefWindowProcA = win32::DefWindowProcA,
      .DestroyWindow = win32::DestroyWindow,
      .DestroyIcon = win32::DestroyIcon,
      .GetModuleHandleA = win32::GetModuleHandleA,
      .MessageBoxA = win32::MessageBoxA,
      .LoadLibraryA = win32::LoadLibraryA,
      .GetProcAddress = win32::GetProcAddress,
  };
  return table;
}

}  // namespace os
