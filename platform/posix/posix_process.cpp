// The POSIX back-end's table, and its heap, process, module and error pieces.
#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <strings.h>
#include <atomic>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/posix/posix_internal.h"

namespace os::posix {
namespace {

thread_local Dword t_lastError = 0;

// Handles that stand for things POSIX has no object for: the process heap
// and the executable's module. Only their identity matters.
char g_heapToken;
char g_moduleToken;

constexpr Dword kHeapZeroMemory = 0x08;
constexpr Dword kHeapReAllocInPlaceOnly = 0x10;

std::atomic<Dword> g_errorMode{0};
thread_local int t_oleDepth = 0;

// The executable's path as the OS reports it (with '/'), or "" on failure.
std::string ExecutablePath() {
  std::string path(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool IsOwnModule(Handle module) { return module == nullptr || module == &g_moduleToken; }

}  // namespace

void SetLastError(Dword error) { t_lastError = error; }
Dword GetLastError() { return t_lastError; }

Dword ErrorFromErrno(int error, const std::string& posixPath) {
  switch (error) {
    case 0: return kErrorSuccess;
    case ENOENT: {
      // Windows tells a missing file from a missing folder on the way to it.
      std::string parent = posixPath;
      while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
      size_t cut = parent.rfind('/');
      parent = cut == std::string::npos ? std::string(".") : cut == 0 ? std::string("/")
                                                                      : parent.substr(0, cut);
      struct stat st;
      if (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return kErrorFileNotFound;
      return kErrorPathNotFound;
    }
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrorAccessDenied;
    case EEXIST: return kErrorFileExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return kErrorDiskFull;
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case EROFS: return kErrorWriteProtect;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EXDEV: return kErrorNotSameDevice;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case EINVAL: return kErrorInvalidParameter;
    case EBUSY:
    case ETXTBSY: return kErrorSharingViolation;
    case ELOOP: return kErrorInvalidName;
    default: return kErrorGenFailure;
  }
}

void SetLastErrorFromErrno(int error, const std::string& posixPath) {
  SetLastError(ErrorFromErrno(error, posixPath));
}

std::string ToPosixPath(const char* path) {
  std::string p = path != nullptr ? path : "";
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

std::string ToWindowsPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// --- Heap -------------------------------------------------------------------
// Blocks come from malloc at exactly the size asked for (a sanitizer then sees
// every byte past the end); a request for 0 bytes still gets a unique block.

Handle GetProcessHeap() { return &g_heapToken; }

void* HeapAlloc(Handle, Dword flags, size_t bytes) {
  size_t n = bytes == 0 ? 1 : bytes;
  return (flags & kHeapZeroMemory) ? std::calloc(1, n) : std::malloc(n);
}

void* HeapReAlloc(Handle, Dword flags, void* block, size_t bytes) {
  if (block == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  size_t n = bytes == 0 ? 1 : bytes;
  // What the block can hold now; HEAP_ZERO_MEMORY clears what lies beyond.
  size_t usable = malloc_usable_size(block);
  if (flags & kHeapReAllocInPlaceOnly) {
    if (n > usable) {
      SetLastError(kErrorNotEnoughMemory);
      return nullptr;
    }
    return block;
  }
  void* q = std::realloc(block, n);
  if (q != nullptr && (flags & kHeapZeroMemory) && n > usable) {
    std::memset(static_cast<char*>(q) + usable, 0, n - usable);
  }
  return q;
}

Bool HeapFree(Handle, Dword, void* block) {
  std::free(block);
  return 1;
}

// --- Module and directories -------------------------------------------------

Dword GetModuleFileNameA(Handle module, char* buffer, Dword size) {
  if (!IsOwnModule(module)) {
    SetLastError(kErrorModNotFound);
    return 0;
  }
  std::string path = ExecutablePath();
  if (path.empty()) {
    SetLastErrorFromErrno(errno);
    return 0;
  }
  path = ToWindowsPath(path);
  if (size == 0) {
    SetLastError(kErrorInsufficientBuffer);
    return 0;
  }
  if (path.size() + 1 > size) {
    // As Windows: as much as fits, terminated, and the full buffer size.
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(kErrorInsufficientBuffer);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  SetLastError(kErrorSuccess);
  return static_cast<Dword>(path.size());
}

Bool SetCurrentDirectoryA(const char* path) {
  std::string p = ToPosixPath(path);
  if (p.empty()) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  if (chdir(p.c_str()) != 0) {
    int error = errno;
    SetLastError(error == ENOTDIR ? kErrorDirectory : ErrorFromErrno(error, p));
    return 0;
  }
  return 1;
}

Dword GetCurrentDirectoryA(Dword size, char* buffer) {
  std::string cwd(256, '\0');
  while (getcwd(cwd.data(), cwd.size()) == nullptr) {
    if (errno != ERANGE) {
      SetLastErrorFromErrno(errno);
      return 0;
    }
    cwd.resize(cwd.size() * 2);
  }
  cwd.resize(std::strlen(cwd.c_str()));
  cwd = ToWindowsPath(cwd);
  // Too small a buffer: the size needed, terminator included; nothing copied.
  if (buffer == nullptr || cwd.size() + 1 > size) return static_cast<Dword>(cwd.size() + 1);
  std::memcpy(buffer, cwd.c_str(), cwd.size() + 1);
  return static_cast<Dword>(cwd.size());
}

Handle GetModuleHandleA(const char* name) {
  if (name == nullptr) return &g_moduleToken;
  // The executable is the only module; it answers to its own file name.
  std::string path = ExecutablePath();
  std::string base = path.substr(path.rfind('/') + 1);
  if (!base.empty() && strcasecmp(base.c_str(), name) == 0) return &g_moduleToken;
  SetLastError(kErrorModNotFound);
  return nullptr;
}

// --- Process and thread -----------------------------------------------------

Dword GetCurrentThreadId() { return static_cast<Dword>(syscall(SYS_gettid)); }
Dword GetCurrentProcessId() { return static_cast<Dword>(getpid()); }

void ExitProcess(uint32_t exitCode) {
  // At once, without static destructors; what stdio holds is written first.
  std::fflush(nullptr);
  _exit(static_cast<int>(exitCode));
}

Dword SetErrorMode(Dword mode) { return g_errorMode.exchange(mode); }

void fpreset() { fesetenv(FE_DFL_ENV); }

void DebugBreak() { raise(SIGTRAP); }

// Nothing loads libraries, starts sockets or creates waitable objects on this
// back-end, so these calls always name something that does not exist.
// Windows libraries do not exist here: a program's external functions cannot
// be loaded, which the runtime reports as a failed call.
Handle LoadLibraryA(const char*) {
  SetLastError(kErrorModNotFound);
  return nullptr;
}

void* GetProcAddress(Handle, const char*) {
  SetLastError(kErrorInvalidHandle);
  return nullptr;
}

Bool FreeLibrary(Handle) {
  SetLastError(kErrorInvalidHandle);
  return 0;
}

int WSACleanup() {
  constexpr Dword kWsaNotInitialised = 10093;
  SetLastError(kWsaNotInitialised);
  return -1;
}

Dword WaitForSingleObject(Handle, Dword) {
  constexpr Dword kWaitFailed = 0xFFFFFFFFu;
  SetLastError(kErrorInvalidHandle);
  return kWaitFailed;
}

// OLE: a per-thread count. The first entry answers S_OK, nested ones S_FALSE.
int32_t OleInitialize(void*) { return t_oleDepth++ == 0 ? 0 : 1; }

void OleUninitialize() {
  if (t_oleDepth > 0) --t_oleDepth;
}

// --- Message box ------------------------------------------------------------

int MessageBoxA(Handle, const char* text, const char* caption, Dword style) {
  // No desktop to show it on: the person reading standard error gets the
  // caption on one line and then the text, decoded from GBK, lines ending in LF.
  std::string out = caption != nullptr ? GbkToUtf8(caption) : std::string("Error");
  out += '\n';
  std::string body = text != nullptr ? GbkToUtf8(text) : std::string();
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n') continue;
    out += body[i];
  }
  if (out.back() != '\n') out += '\n';
  std::fflush(stderr);
  const char* p = out.data();
  size_t left = out.size();
  while (left > 0) {
    ssize_t n = write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  // Nobody can press a button: the answer is the box's first button.
  switch (style & 0x0F) {
    case 2: return 3;  // abort, retry, ignore: IDABORT
    case 3:
    case 4: return 6;  // yes, no (, cancel): IDYES
    case 5: return 4;  // retry, cancel: IDRETRY
    case 6: return 2;  // cancel, try again, continue: IDCANCEL
    default: return 1; // OK (, cancel): IDOK
  }
}

}  // namespace os::posix

namespace os {

const Platform& NativePlatform() {
  using namespace os::posix;
  static constinit const Platform table = {
      .GetProcessHeap = posix::GetProcessHeap,
      .HeapAlloc = posix::HeapAlloc,
      .HeapReAlloc = posix::HeapReAlloc,
      .HeapFree = posix::HeapFree,
      .GetModuleFileNameA = posix::GetModuleFileNameA,
      .SetCurrentDirectoryA = posix::SetCurrentDirectoryA,
      .GetCurrentDirectoryA = posix::GetCurrentDirectoryA,
      .GetACP = posix::GetACP,
      .IsDBCSLeadByteEx = posix::IsDBCSLeadByteEx,
      .MultiByteToWideChar = posix::MultiByteToWideChar,
      .WideCharToMultiByte = posix::WideCharToMultiByte,
      .FindFirstFileA = posix::FindFirstFileA,
      .FindNextFileA = posix::FindNextFileA,
      .FindClose = posix::FindClose,
      .FindFirstFileExA = posix::FindFirstFileExA,
      .CreateFileA = posix::CreateFileA,
      .WriteFile = posix::WriteFile,
      .FlushFileBuffers = posix::FlushFileBuffers,
      .CloseHandle = posix::CloseHandle,
      .GetFileAttributesA = posix::GetFileAttributesA,
      .MoveFileExA = posix::MoveFileExA,
      .DeleteFileA = posix::DeleteFileA,
      .GetLastError = posix::GetLastError,
      .GetCurrentThreadId = posix::GetCurrentThreadId,
      .GetCurrentProcessId = posix::GetCurrentProcessId,
      .ExitProcess = posix::ExitProcess,
      .SetErrorMode = posix::SetErrorMode,
      .fpreset = posix::fpreset,
      .DebugBreak = posix::DebugBreak,
      .FreeLibrary = posix::FreeLibrary,
      .WSACleanup = posix::WSACleanup,
      .WaitForSingleObject = posix::WaitForSingleObject,
      .OleInitialize = posix::OleInitialize,
      .OleUninitialize = posix::OleUninitialize,
      .LoadCursorA = posix::LoadCursorA,
      .GetStockObject = posix::GetStockObject,
      .RegisterClassA = posix::RegisterClassA,
      .UnregisterClassA = posix::UnregisterClassA,
      .CreateWindowExA = posix::CreateWindowExA,
      .IsWindow = posix::IsWindow,
      .SendMessageA = posix::SendMessageA,
      .PostMessageA = posix::PostMessageA,
      .PostQuitMessage = posix::PostQuitMessage,
      .PeekMessageA = posix::PeekMessageA,
      .GetMessageA = posix::GetMessageA,
      .TranslateMessage = posix::TranslateMessage,
      .DispatchMessageA = posix::DispatchMessageA,
      .DefWindowProcA = posix::DefWindowProcA,
      .DestroyWindow = posix::DestroyWindow,
      .DestroyIcon = posix::DestroyIcon,
      .GetModuleHandleA = posix::GetModuleHandleA,
      .MessageBoxA = posix::MessageBoxA,
      .LoadLibraryA = posix::LoadLibraryA,
      .GetProcAddress = posix::GetProcAddress,
  };
  return table;
}

}  // namespace os
