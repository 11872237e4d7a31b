// The operating-system seam of modmanifest.
//
// The runtime reaches the operating system only through the table below. Its
// entries are named after the narrow Win32 functions the runtime needs and
// behave as they do (results, flags, failure values), with one difference:
// their narrow texts (names, paths) are UTF-8 on every back-end, so a name
// reaches the runtime as the file system holds it. Three tables exist: the
// Win32 back-end passes straight to the real API, the POSIX back-end gives
// Linux a Win32 personality, and the test fake scripts every answer and
// records every call. Outside platform/, only the window's Win32 code
// (window/win32) and tests include a system header.
#pragma once

#include <cstddef>
#include <cstdint>

// Window procedures are called back by the platform with its own calling
// convention, which on 32-bit Windows is stdcall.
#if defined(_WIN32) && defined(__i386__)
#define OS_CALLBACK __attribute__((stdcall))
#else
#define OS_CALLBACK
#endif

namespace os {

using Handle = void*;
using Bool = int32_t;
using Dword = uint32_t;

// The value CreateFileA and FindFirstFileA return on failure.
inline Handle InvalidHandle() { return reinterpret_cast<Handle>(static_cast<intptr_t>(-1)); }

// File attribute bits, as the platform reports them.
constexpr Dword kAttrReadOnly = 0x01;
constexpr Dword kAttrHidden = 0x02;
constexpr Dword kAttrSystem = 0x04;
constexpr Dword kAttrDirectory = 0x10;
constexpr Dword kAttrArchive = 0x20;
constexpr Dword kAttrNormal = 0x80;
constexpr Dword kInvalidFileAttributes = 0xFFFFFFFFu;

// CreateFileA arguments.
constexpr Dword kGenericWrite = 0x40000000u;
constexpr Dword kCreateNew = 1;
constexpr Dword kCreateAlways = 2;
constexpr Dword kOpenExisting = 3;

// MoveFileExA flags.
constexpr Dword kMoveReplaceExisting = 0x1;
constexpr Dword kMoveWriteThrough = 0x8;

// GetLastError values told apart above the seam, as Windows numbers them.
constexpr Dword kErrorFileNotFound = 2;
constexpr Dword kErrorPathNotFound = 3;
constexpr Dword kErrorTooManyOpenFiles = 4;
constexpr Dword kErrorAccessDenied = 5;
constexpr Dword kErrorNotEnoughMemory = 8;
constexpr Dword kErrorNoMoreFiles = 18;       // a listing's end
constexpr Dword kErrorWriteProtect = 19;
constexpr Dword kErrorSharingViolation = 32;
constexpr Dword kErrorHandleDiskFull = 39;
constexpr Dword kErrorFileExists = 80;
constexpr Dword kErrorBrokenPipe = 109;
constexpr Dword kErrorDiskFull = 112;
constexpr Dword kErrorInsufficientBuffer = 122;
constexpr Dword kErrorInvalidName = 123;
constexpr Dword kErrorModNotFound = 126;
constexpr Dword kErrorAlreadyExists = 183;
constexpr Dword kErrorFilenameExcedRange = 206;
constexpr Dword kErrorFileTooLarge = 223;
constexpr Dword kErrorNoData = 232;            // the pipe is being closed
constexpr Dword kErrorPipeNotConnected = 233;
constexpr Dword kErrorDirectory = 267;        // not a folder
constexpr Dword kErrorIsFolder = 336;         // ERROR_DIRECTORY_NOT_SUPPORTED
constexpr Dword kErrorNoUnicodeTranslation = 1113;
constexpr Dword kErrorFileCorrupt = 1392;
constexpr Dword kErrorIsLink = 4395;          // ERROR_REPARSE_POINT_ENCOUNTERED

// SetErrorMode bits.
constexpr Dword kSemFailCriticalErrors = 0x0001;
constexpr Dword kSemNoOpenFileErrorBox = 0x8000;

// Code pages.
constexpr Dword kCodePageAnsi = 0;  // CP_ACP: the process's ANSI code page
constexpr Dword kCodePageGbk = 936;
constexpr Dword kCodePageUtf8 = 65001;
// MultiByteToWideChar flag: fail on bytes that are not valid in the code page.
constexpr Dword kMbErrInvalidChars = 0x8;

// Window messages and styles the runtime uses.
constexpr uint32_t kWmNull = 0x0000;
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kWmApp = 0x8000;
constexpr Dword kWsExToolWindow = 0x80;
constexpr uint32_t kPmNoRemove = 0x0000;
constexpr uint32_t kPmRemove = 0x0001;
constexpr uintptr_t kIdcArrow = 32512;
constexpr int kNullBrush = 5;

// Message box style: one OK button and the stop icon.
constexpr Dword kMbOk = 0x00;
constexpr Dword kMbIconError = 0x10;

constexpr Dword kMaxPath = 260;

// FindFirstFileExA arguments.
constexpr int kFindExInfoStandard = 0;
constexpr int kFindExInfoBasic = 1;
constexpr int kFindExSearchNameMatch = 0;
constexpr Dword kFindFirstExLargeFetch = 2;

// The longest name a listing reports, in bytes: 259 UTF-16 units (NTFS keeps
// at most 255), at most three UTF-8 bytes each, and the terminator.
constexpr size_t kMaxNameBytes = 3 * (kMaxPath - 1) + 1;

struct FindDataA {
  Dword dwFileAttributes;
  char cFileName[kMaxNameBytes];  // UTF-8, terminated
};

struct SecurityAttributes {
  Dword nLength;
  void* lpSecurityDescriptor;
  Bool bInheritHandle;
};

using WndProc = intptr_t(OS_CALLBACK*)(Handle hwnd, uint32_t message, uintptr_t wParam,
                                       intptr_t lParam);

struct WndClassA {
  uint32_t style;
  WndProc lpfnWndProc;
  Handle hInstance;
  Handle hIcon;
  Handle hCursor;
  Handle hbrBackground;
  const char* lpszClassName;
};

struct Msg {
  Handle hwnd;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  Dword time;
  int32_t ptX;
  int32_t ptY;
};

struct Platform {
  // Process heap. Blocks are exactly the size asked for; flags are the
  // Win32 ones (the runtime passes 0).
  Handle (*GetProcessHeap)();
  void* (*HeapAlloc)(Handle heap, Dword flags, size_t bytes);
  void* (*HeapReAlloc)(Handle heap, Dword flags, void* block, size_t bytes);
  Bool (*HeapFree)(Handle heap, Dword flags, void* block);

  // The executable's path and the current directory, whole at any length.
  // Paths use '\'; the Win32 back-end gives an absolute path too long for
  // the classic limit its \\?\ form before it asks the system.
  Dword (*GetModuleFileNameA)(Handle module, char* buffer, Dword size);
  Bool (*SetCurrentDirectoryA)(const char* path);
  Dword (*GetCurrentDirectoryA)(Dword size, char* buffer);

  // Code pages: the ANSI code page, its lead bytes, and conversion through
  // UTF-16 (char16_t is the platform's 16-bit WCHAR). The seam's narrow texts
  // are UTF-8 on every back-end: GetACP reports 65001 and the ANSI code page
  // (kCodePageAnsi, also CP_OEMCP and CP_THREAD_ACP) converts as UTF-8,
  // whatever the system's own is; other code pages (GBK) are the system's.
  Dword (*GetACP)();
  Bool (*IsDBCSLeadByteEx)(Dword codePage, uint8_t byte);
  int (*MultiByteToWideChar)(Dword codePage, Dword flags, const char* text, int length,
                             char16_t* wide, int wideLength);
  int (*WideCharToMultiByte)(Dword codePage, Dword flags, const char16_t* wide, int wideLength,
                             char* text, int length, const char* defaultChar, Bool* usedDefault);

  // Directory listing.
  Handle (*FindFirstFileA)(const char* pattern, FindDataA* data);
  Bool (*FindNextFileA)(Handle find, FindDataA* data);
  Bool (*FindClose)(Handle find);
  // As FindFirstFileA; searchOp kFindExSearchNameMatch, no filter. With
  // kFindExInfoBasic the caller needs only names and the directory bit: the
  // POSIX back-end then takes the attribute word from the directory entry
  // (directory, hidden, otherwise archive) rather than examining every file,
  // so the read-only bit is not reported. Windows gives every bit either way.
  Handle (*FindFirstFileExA)(const char* pattern, int infoLevel, FindDataA* data, int searchOp,
                             void* searchFilter, Dword additionalFlags);

  // Files.
  Handle (*CreateFileA)(const char* path, Dword access, Dword share, SecurityAttributes* security,
                        Dword disposition, Dword flagsAndAttributes, Handle templateFile);
  Bool (*WriteFile)(Handle file, const void* bytes, Dword count, Dword* written, void* overlapped);
  Bool (*FlushFileBuffers)(Handle file);
  Bool (*CloseHandle)(Handle object);
  Dword (*GetFileAttributesA)(const char* path);
  Bool (*MoveFileExA)(const char* from, const char* to, Dword flags);
  Bool (*DeleteFileA)(const char* path);
  Dword (*GetLastError)();

  // Process and thread.
  Dword (*GetCurrentThreadId)();
  Dword (*GetCurrentProcessId)();
  // Ends the process at once with the given status; runs no static
  // destructor. Never returns (the test fake unwinds to its test instead).
  void (*ExitProcess)(uint32_t exitCode);
  Dword (*SetErrorMode)(Dword mode);
  // Floating point back to its initial state (round to nearest, all
  // exceptions masked, full precision).
  void (*fpreset)();
  void (*DebugBreak)();

  // What the end of the run gives back: modules of external libraries, the
  // socket library, worker threads (waited for without a time limit).
  Bool (*FreeLibrary)(Handle module);
  int (*WSACleanup)();
  Dword (*WaitForSingleObject)(Handle object, Dword milliseconds);

  // OLE apartment of the calling thread.
  int32_t (*OleInitialize)(void* reserved);
  void (*OleUninitialize)();

  // Windows and messages. Messages sent to a window of another thread wait
  // until that thread retrieves its messages.
  Handle (*LoadCursorA)(Handle instance, uintptr_t resource);
  Handle (*GetStockObject)(int object);
  uint16_t (*RegisterClassA)(const WndClassA* windowClass);
  Bool (*UnregisterClassA)(const char* className, Handle instance);
  Handle (*CreateWindowExA)(Dword exStyle, const char* className, const char* title, Dword style,
                            int x, int y, int width, int height, Handle parent, Handle menu,
                            Handle instance, void* param);
  Bool (*IsWindow)(Handle hwnd);
  intptr_t (*SendMessageA)(Handle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam);
  Bool (*PostMessageA)(Handle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam);
  void (*PostQuitMessage)(int exitCode);
  Bool (*PeekMessageA)(Msg* msg, Handle hwnd, uint32_t filterMin, uint32_t filterMax,
                       uint32_t removeFlags);
  Bool (*GetMessageA)(Msg* msg, Handle hwnd, uint32_t filterMin, uint32_t filterMax);
  Bool (*TranslateMessage)(const Msg* msg);
  intptr_t (*DispatchMessageA)(const Msg* msg);
  intptr_t (*DefWindowProcA)(Handle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam);
  Bool (*DestroyWindow)(Handle hwnd);
  Bool (*DestroyIcon)(Handle icon);
  Handle (*GetModuleHandleA)(const char* name);

  // The message box. Caption and text are GBK (code page 936) bytes; the
  // back-end decodes them for the person who reads them.
  int (*MessageBoxA)(Handle owner, const char* text, const char* caption, Dword style);

  // External libraries whose functions a program declares: loaded by name
  // (released with FreeLibrary), functions looked up by name. Null where a
  // back-end offers none; the runtime then reports the call as failed.
  Handle (*LoadLibraryA)(const char* name);
  void* (*GetProcAddress)(Handle module, const char* name);
};

// The table in use. The program uses its back-end's table for its whole life;
// a test may install another one (the fake) and restore the old one after.
const Platform& Os();
const Platform* InstallPlatform(const Platform* table);

// The back-end compiled into this build (Win32 or POSIX).
const Platform& NativePlatform();

// The path the program was started by (argv[0]), set by the entry point
// before anything asks for the module's path; null until then. The POSIX
// back-end reports it, made absolute, as the module's path wherever it names
// a folder, as Windows reports the path a program was started by.
void SetStartPath(const char* path);
const char* StartPath();

// Os().ExitProcess for callers that must not continue.
[[noreturn]] void EndProcess(uint32_t exitCode);

// What a back-end does when an allocation of its own fails (a name
// conversion, a listing buffer): the handler the program installed (the
// runtime's allocation failure: its box, then exit -1). Never returns; with
// no handler installed the process ends with status -1 at once.
using OutOfMemoryHandler = void (*)(size_t bytes);
OutOfMemoryHandler SetOutOfMemoryHandler(OutOfMemoryHandler handler);
[[noreturn]] void OutOfMemory(size_t bytes);

}  // namespace os
