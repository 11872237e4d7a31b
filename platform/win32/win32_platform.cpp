// The Win32 back-end: every entry passes straight to the system, converting
// only between the seam's plain types and the API's own. The one exception is
// MessageBoxA, whose GBK texts are decoded here so that they read correctly
// whatever the system's ANSI code page is.
#include <winsock2.h>
#include <windows.h>
#include <ole2.h>

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

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

Dword GetModuleFileNameA(Handle module, char* buffer, Dword size) {
  return ::GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
}
Bool SetCurrentDirectoryA(const char* path) { return ::SetCurrentDirectoryA(path); }
Dword GetCurrentDirectoryA(Dword size, char* buffer) { return ::GetCurrentDirectoryA(size, buffer); }

Dword GetACP() { return ::GetACP(); }
Bool IsDBCSLeadByteEx(Dword codePage, uint8_t byte) { return ::IsDBCSLeadByteEx(codePage, byte); }
int MultiByteToWideChar(Dword codePage, Dword flags, const char* text, int length,
                        char16_t* wide, int wideLength) {
  return ::MultiByteToWideChar(codePage, flags, text, length, reinterpret_cast<LPWSTR>(wide),
                               wideLength);
}
int WideCharToMultiByte(Dword codePage, Dword flags, const char16_t* wide, int wideLength,
                        char* text, int length, const char* defaultChar, Bool* usedDefault) {
  BOOL used = FALSE;
  int n = ::WideCharToMultiByte(codePage, flags, reinterpret_cast<LPCWSTR>(wide), wideLength,
                                text, length, defaultChar, usedDefault != nullptr ? &used : nullptr);
  if (usedDefault != nullptr) *usedDefault = used;
  return n;
}

void CopyFindData(const WIN32_FIND_DATAA& from, FindDataA* to) {
  to->dwFileAttributes = from.dwFileAttributes;
  static_assert(sizeof to->cFileName == sizeof from.cFileName);
  std::memcpy(to->cFileName, from.cFileName, sizeof to->cFileName);
}

Handle FindFirstFileA(const char* pattern, FindDataA* data) {
  WIN32_FIND_DATAA found;
  HANDLE h = ::FindFirstFileA(pattern, &found);
  if (h != INVALID_HANDLE_VALUE) CopyFindData(found, data);
  return h;
}
Handle FindFirstFileExA(const char* pattern, int infoLevel, FindDataA* data, int searchOp,
                        void* searchFilter, Dword additionalFlags) {
  WIN32_FIND_DATAA found;
  HANDLE h = ::FindFirstFileExA(pattern, static_cast<FINDEX_INFO_LEVELS>(infoLevel), &found,
                                static_cast<FINDEX_SEARCH_OPS>(searchOp), searchFilter,
                                additionalFlags);
  if (h != INVALID_HANDLE_VALUE) CopyFindData(found, data);
  return h;
}
Bool FindNextFileA(Handle find, FindDataA* data) {
  WIN32_FIND_DATAA found;
  BOOL ok = ::FindNextFileA(find, &found);
  if (ok) CopyFindData(found, data);
  return ok;
}
Bool FindClose(Handle find) { return ::FindClose(find); }

Handle CreateFileA(const char* path, Dword access, Dword share, SecurityAttributes* security,
                   Dword disposition, Dword flagsAndAttributes, Handle templateFile) {
  SECURITY_ATTRIBUTES sa;
  if (security != nullptr) {
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = security->lpSecurityDescriptor;
    sa.bInheritHandle = security->bInheritHandle;
  }
  return ::CreateFileA(path, access, share, security != nullptr ? &sa : nullptr, disposition,
                       flagsAndAttributes, templateFile);
}
Bool WriteFile(Handle file, const void* bytes, Dword count, Dword* written, void* overlapped) {
  DWORD done = 0;
  BOOL ok = ::WriteFile(file, bytes, count, &done, static_cast<LPOVERLAPPED>(overlapped));
  if (written != nullptr) *written = done;
  return ok;
}
Bool FlushFileBuffers(Handle file) { return ::FlushFileBuffers(file); }
Bool CloseHandle(Handle object) { return ::CloseHandle(object); }
Dword GetFileAttributesA(const char* path) { return ::GetFileAttributesA(path); }
Bool MoveFileExA(const char* from, const char* to, Dword flags) {
  return ::MoveFileExA(from, to, flags);
}
Bool DeleteFileA(const char* path) { return ::DeleteFileA(path); }
Dword GetLastError() { return ::GetLastError(); }

Dword GetCurrentThreadId() { return ::GetCurrentThreadId(); }
Dword GetCurrentProcessId() { return ::GetCurrentProcessId(); }
void ExitProcess(uint32_t exitCode) {
  // The C library's buffers are not written by ExitProcess itself.
  std::fflush(nullptr);
  ::ExitProcess(exitCode);
}
Dword SetErrorMode(Dword mode) { return ::SetErrorMode(mode); }
void fpreset() { _fpreset(); }
void DebugBreak() { ::DebugBreak(); }

Bool FreeLibrary(Handle module) { return ::FreeLibrary(static_cast<HMODULE>(module)); }
Handle LoadLibraryA(const char* name) { return ::LoadLibraryA(name); }
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
Handle GetModuleHandleA(const char* name) { return ::GetModuleHandleA(name); }

// GBK bytes as UTF-16, for display; null stays null.
std::wstring FromGbk(const char* text) {
  if (text == nullptr || *text == '\0') return std::wstring();
  int n = ::MultiByteToWideChar(936, 0, text, -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(936, 0, text, -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
}

int MessageBoxA(Handle owner, const char* text, const char* caption, Dword style) {
  std::wstring wideText = FromGbk(text);
  std::wstring wideCaption = FromGbk(caption);
  return ::MessageBoxW(static_cast<HWND>(owner), wideText.c_str(),
                       caption != nullptr ? wideCaption.c_str() : nullptr, style);
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
