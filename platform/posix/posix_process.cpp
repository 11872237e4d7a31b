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
#include <new>
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

// The executable's path as the OS reports it (with '/', links resolved), or
// "" on failure (a path longer than the system reports, say).
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

// path without "." components and repeated separators, its ".." components
// taken back over the component before them, as Windows spells a full path.
std::string Normalised(const std::string& path) {
  std::string out;
  out.reserve(path.size() + 1);
  size_t i = 0;
  while (i < path.size()) {
    size_t end = path.find('/', i);
    if (end == std::string::npos) end = path.size();
    const std::string_view part(path.data() + i, end - i);
    if (part == "..") {
      size_t cut = out.rfind('/');
      out.resize(cut == std::string::npos ? 0 : cut);
    } else if (!part.empty() && part != ".") {
      out += '/';
      out += part;
    }
    i = end + 1;
  }
  return out.empty() ? std::string("/") : out;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The program's path as it was started: the start path made absolute and
// normalised, as long as it names a folder and still leads to this very
// executable (started through a link, it keeps the link's folder). Otherwise,
// as when the program was found through PATH, the executable the system
// resolved. "" when neither can be told (errno says why).
std::string ModulePath() {
  const char* start = StartPath();
  if (start != nullptr && std::strchr(start, '/') != nullptr) {
    std::string path;
    if (start[0] != '/') {
      std::string cwd(256, '\0');
      while (getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE) return std::string();
        cwd.resize(cwd.size() * 2);
      }
      cwd.resize(std::strlen(cwd.c_str()));
      path.reserve(cwd.size() + std::strlen(start) + 2);
      path = cwd + "/";
    }
    path += start;
    if (SameFile(path, "/proc/self/exe")) {
      std::string normalised = Normalised(path);
      if (SameFile(normalised, path)) return normalised;
      // Taking ".." back over a folder reached through a link led elsewhere
      // than the system's own reading of the path: the folder's real path
      // names the same folder.
      const size_t cut = path.rfind('/');
      char* real = realpath(path.substr(0, cut + 1).c_str(), nullptr);
      if (real != nullptr) {
        std::string folder = real;
        std::free(real);
        return (folder == "/" ? std::string() : folder) + path.substr(cut);
      }
    }
  }
  return ExecutablePath();
}

bool IsOwnModule(Handle module) { return module == nullptr || module == &g_moduleToken; }

}  // namespace

void SetLastError(Dword error) { t_lastError = error; }
Dword GetLastError() { return t_lastError; }

namespace {
thread_local int t_locksHeld = 0;

// operator new calls this when the heap refuses a block.
void BackEndNewHandler() {
  if (t_locksHeld > 0) throw std::bad_alloc();
  OutOfMemory(RefusedAllocation());
}

// Installed before main, for the life of the process.
[[maybe_unused]] const std::new_handler g_previousNewHandler =
    std::set_new_handler(&BackEndNewHandler);
}  // namespace

void BackEndMutex::lock() {
  mutex_.lock();
  ++t_locksHeld;
}
void BackEndMutex::unlock() {
  --t_locksHeld;
  mutex_.unlock();
}
bool BackEndMutex::try_lock() {
  if (!mutex_.try_lock()) return false;
  ++t_locksHeld;
  return true;
}

Dword ErrorFromErrno(int error, std::string_view posixPath) {
  switch (error) {
    case 0: return kErrorSuccess;
    case ENOENT: {
      // Windows tells a missing file from a missing folder on the way to it.
      // The folder is looked at in a buffer of its own: no heap on this path.
      char parent[4096];
      if (!FolderPartIn(posixPath, parent, sizeof parent)) return kErrorPathNotFound;
      struct stat st;
      if (stat(parent, &st) == 0 && S_ISDIR(st.st_mode)) return kErrorFileNotFound;
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

void SetLastErrorFromErrno(int error, std::string_view posixPath) {
  SetLastError(ErrorFromErrno(error, posixPath));
}

std::string_view FolderPart(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t cut = path.rfind('/');
  if (cut == std::string_view::npos) return ".";
  return path.substr(0, cut == 0 ? 1 : cut);
}

bool FolderPartIn(std::string_view path, char* buffer, size_t size) {
  const std::string_view folder = FolderPart(path);
  if (folder.size() >= size) return false;
  std::memcpy(buffer, folder.data(), folder.size());
  buffer[folder.size()] = '\0';
  return true;
}

PosixPath::PosixPath(const char* path) {
  const size_t length = path != nullptr ? std::strlen(path) : 0;
  if (length == 0 || length >= sizeof buffer_) {
    error_ = length == 0 ? kErrorPathNotFound : kErrorFilenameExcedRange;
    buffer_[0] = '\0';
    return;
  }
  for (size_t i = 0; i < length; ++i) buffer_[i] = path[i] == '\\' ? '/' : path[i];
  buffer_[length] = '\0';
  length_ = length;
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
  std::string path = ModulePath();
  if (path.empty()) {
    SetLastErrorFromErrno(errno);
    return 0;
  }
  // A '\' in a POSIX name would read as a separator once the path is
  // spelled with '\': the runtime would take another folder for the
  // program's own. Such a path has no Win32 spelling.
  if (path.find('\\') != std::string::npos) {
    SetLastError(kErrorInvalidName);
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
  // The executable is the only module; it answers to the file name it was
  // started by.
  std::string path = ModulePath();
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

namespace {

// Standard error through a fixed buffer: the box may report that the heap
// is exhausted, so showing it must not need any memory.
class ErrorStream {
 public:
  ErrorStream() { std::fflush(stderr); }
  ~ErrorStream() { Flush(); }
  ErrorStream(const ErrorStream&) = delete;
  ErrorStream& operator=(const ErrorStream&) = delete;

  void Put(char c) {
    if (used_ == sizeof buffer_) Flush();
    buffer_[used_++] = c;
    last_ = c;
  }
  void PutUnit(uint32_t c) {
    if (c < 0x80) {
      Put(static_cast<char>(c));
    } else if (c < 0x800) {
      Put(static_cast<char>(0xC0 | c >> 6));
      Put(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      Put(static_cast<char>(0xE0 | c >> 12));
      Put(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      Put(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  // GBK text decoded, CR LF as LF; what has no character is U+FFFD.
  void PutGbk(const char* text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text);
    for (size_t i = 0; s[i] != 0;) {
      const uint8_t b = s[i];
      if (b == '\r' && s[i + 1] == '\n') {
        ++i;
      } else if (b < 0x80) {
        Put(static_cast<char>(b));
        ++i;
      } else if (b == 0x80) {
        PutUnit(0x20AC);
        ++i;
      } else if (s[i + 1] == 0) {
        PutUnit(0xFFFD);
        ++i;
      } else {
        const char16_t unit = GbkUnitForDisplay(b, s[i + 1]);
        PutUnit(unit != 0 ? unit : 0xFFFD);
        // A lead byte takes its partner with it unless that is plain ASCII.
        i += unit != 0 || s[i + 1] >= 0x40 ? 2 : 1;
      }
    }
  }
  char Last() const { return last_; }

 private:
  void Flush() {
    const char* p = buffer_;
    size_t left = used_;
    while (left > 0) {
      ssize_t n = write(STDERR_FILENO, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      p += n;
      left -= static_cast<size_t>(n);
    }
    used_ = 0;
  }

  char buffer_[512];
  size_t used_ = 0;
  char last_ = '\0';
};

}  // namespace

int MessageBoxA(Handle, const char* text, const char* caption, Dword style) {
  // No desktop to show it on: the person reading standard error gets the
  // caption on one line and then the text, decoded from GBK, lines ending in LF.
  {
    ErrorStream out;
    out.PutGbk(caption != nullptr ? caption : "Error");
    out.Put('\n');
    if (text != nullptr) out.PutGbk(text);
    if (out.Last() != '\n') out.Put('\n');
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
namespace {

// The entries that may allocate: an allocation of the back-end's
// own that the heap refuses ends the run as the runtime's own refusals do
// (os::OutOfMemory, with the size refused), never with an exception that
// nobody catches. The stack has unwound by then, so no lock of the back-end
// is held.
template <auto F>
struct Guarded;

template <typename R, typename... A, R (*F)(A...)>
struct Guarded<F> {
  static R Call(A... args) {
    try {
      return F(args...);
    } catch (const std::bad_alloc&) {
    }
    OutOfMemory(posix::RefusedAllocation());
  }
};

}  // namespace

const Platform& NativePlatform() {
  using namespace os::posix;
  static constinit const Platform table = {
      .GetProcessHeap = posix::GetProcessHeap,
      .HeapAlloc = posix::HeapAlloc,
      .HeapReAlloc = posix::HeapReAlloc,
      .HeapFree = posix::HeapFree,
      .GetModuleFileNameA = Guarded<posix::GetModuleFileNameA>::Call,
      .SetCurrentDirectoryA = Guarded<posix::SetCurrentDirectoryA>::Call,
      .GetCurrentDirectoryA = Guarded<posix::GetCurrentDirectoryA>::Call,
      .GetACP = posix::GetACP,
      .IsDBCSLeadByteEx = posix::IsDBCSLeadByteEx,
      .MultiByteToWideChar = Guarded<posix::MultiByteToWideChar>::Call,
      .WideCharToMultiByte = Guarded<posix::WideCharToMultiByte>::Call,
      .FindFirstFileA = Guarded<posix::FindFirstFileA>::Call,
      .FindNextFileA = Guarded<posix::FindNextFileA>::Call,
      .FindClose = Guarded<posix::FindClose>::Call,
      .FindFirstFileExA = Guarded<posix::FindFirstFileExA>::Call,
      .CreateFileA = Guarded<posix::CreateFileA>::Call,
      .WriteFile = Guarded<posix::WriteFile>::Call,
      .FlushFileBuffers = Guarded<posix::FlushFileBuffers>::Call,
      .CloseHandle = Guarded<posix::CloseHandle>::Call,
      .GetFileAttributesA = Guarded<posix::GetFileAttributesA>::Call,
      .MoveFileExA = Guarded<posix::MoveFileExA>::Call,
      .DeleteFileA = Guarded<posix::DeleteFileA>::Call,
      .GetLastError = posix::GetLastError,
      .GetCurrentThreadId = posix::GetCurrentThreadId,
      .GetCurrentProcessId = posix::GetCurrentProcessId,
      .ExitProcess = posix::ExitProcess,
      .SetErrorMode = Guarded<posix::SetErrorMode>::Call,
      .fpreset = posix::fpreset,
      .DebugBreak = posix::DebugBreak,
      .FreeLibrary = Guarded<posix::FreeLibrary>::Call,
      .WSACleanup = Guarded<posix::WSACleanup>::Call,
      .WaitForSingleObject = Guarded<posix::WaitForSingleObject>::Call,
      .OleInitialize = Guarded<posix::OleInitialize>::Call,
      .OleUninitialize = Guarded<posix::OleUninitialize>::Call,
      .LoadCursorA = Guarded<posix::LoadCursorA>::Call,
      .GetStockObject = Guarded<posix::GetStockObject>::Call,
      .RegisterClassA = Guarded<posix::RegisterClassA>::Call,
      .UnregisterClassA = Guarded<posix::UnregisterClassA>::Call,
      .CreateWindowExA = Guarded<posix::CreateWindowExA>::Call,
      .IsWindow = Guarded<posix::IsWindow>::Call,
      .SendMessageA = Guarded<posix::SendMessageA>::Call,
      .PostMessageA = Guarded<posix::PostMessageA>::Call,
      .PostQuitMessage = Guarded<posix::PostQuitMessage>::Call,
      .PeekMessageA = Guarded<posix::PeekMessageA>::Call,
      .GetMessageA = Guarded<posix::GetMessageA>::Call,
      .TranslateMessage = Guarded<posix::TranslateMessage>::Call,
      .DispatchMessageA = Guarded<posix::DispatchMessageA>::Call,
      .DefWindowProcA = Guarded<posix::DefWindowProcA>::Call,
      .DestroyWindow = Guarded<posix::DestroyWindow>::Call,
      .DestroyIcon = Guarded<posix::DestroyIcon>::Call,
      .GetModuleHandleA = Guarded<posix::GetModuleHandleA>::Call,
      .MessageBoxA = Guarded<posix::MessageBoxA>::Call,
      .LoadLibraryA = Guarded<posix::LoadLibraryA>::Call,
      .GetProcAddress = Guarded<posix::GetProcAddress>::Call,
  };
  return table;
}

}  // namespace os
