// Files and directory listings of the POSIX back-end, with Win32 results:
// handles are objects of this file, paths arrive with '\', a listing is
// sorted as NTFS sorts it, and sharing and read-only rules are kept as far as
// POSIX lets them be.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string_view>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/posix/posix_internal.h"

namespace os::posix {
namespace {

constexpr Dword kGenericRead = 0x80000000u;
constexpr Dword kGenericAll = 0x10000000u;
constexpr Dword kFileReadData = 0x1;
constexpr Dword kFileWriteData = 0x2;
constexpr Dword kFileAppendData = 0x4;
constexpr Dword kOpenAlways = 4;
constexpr Dword kTruncateExisting = 5;
constexpr Dword kMoveCopyAllowed = 0x2;
constexpr Dword kMoveDelayUntilReboot = 0x4;
constexpr Dword kMoveCreateHardlink = 0x10;

// --- Handles ----------------------------------------------------------------
// Every handle this file gives out is registered, so a stale or foreign
// handle is refused with ERROR_INVALID_HANDLE instead of being dereferenced.
// The registry is never destroyed: handles may be closed during process exit.

struct HandleObject {
  enum class Kind { File, Find } kind;
  explicit HandleObject(Kind k) : kind(k) {}
  virtual ~HandleObject() = default;
};

struct FileObject : HandleObject {
  int fd;
  explicit FileObject(int f) : HandleObject(Kind::File), fd(f) {}
};

// One entry of an open listing: its name lives in the listing's FolderNames
// (or is the literal . or ..).
struct FindEntry {
  const char* name;
  uint32_t length;
  Dword attributes;
};

struct FindObject : HandleObject {
  std::shared_ptr<const FolderNames> folder;
  std::vector<FindEntry> entries;
  size_t next = 0;
  FindObject() : HandleObject(Kind::Find) {}
};

struct Registry {
  BackEndMutex mutex;
  std::unordered_set<HandleObject*> live;
};

Registry& Handles() {
  static Registry* registry = new Registry;
  return *registry;
}

// Takes ownership of object; should the registry have no room for it, the
// object goes before the allocation failure is passed on.
Handle Register(HandleObject* object) {
  std::unique_ptr<HandleObject> owned(object);
  std::lock_guard<BackEndMutex> lock(Handles().mutex);
  Handles().live.insert(object);
  return owned.release();
}

template <typename T>
T* Lookup(Handle handle, HandleObject::Kind kind, bool remove) {
  auto* object = static_cast<HandleObject*>(handle);
  std::lock_guard<BackEndMutex> lock(Handles().mutex);
  auto it = Handles().live.find(object);
  if (it == Handles().live.end() || (*it)->kind != kind) return nullptr;
  if (remove) Handles().live.erase(it);
  return static_cast<T*>(object);
}

// --- Listing helpers --------------------------------------------------------

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

void Fill(FindDataA* data, const FindEntry& entry) {
  data->dwFileAttributes = entry.attributes;
  const size_t length = std::min<size_t>(entry.length, sizeof data->cFileName - 1);
  std::memcpy(data->cFileName, entry.name, length);
  data->cFileName[length] = '\0';
}

// The last component of a POSIX path, trailing separators ignored.
std::string LastComponent(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Syncs the folder of path, named in a buffer of its own.
void SyncFolderOf(std::string_view path) {
  char folder[4096];
  if (!FolderPartIn(path, folder, sizeof folder)) return;
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool ReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

// Whether another opener holds the file with a no-sharing or shared lock
// (see CreateFileA). Only openers that took such a lock are seen.
bool HeldElsewhere(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}

}  // namespace

// --- Wildcards --------------------------------------------------------------
// Win32 matching: case-insensitive; '*' matches any run of characters, '?'
// one character other than '.' (and nothing at a '.' or the end of the name).
// Before a '.', '*' stops short of the name's last '.'; a '.' followed by '*'
// or '?', or ending the pattern, also matches the end of a name without
// extension. So "*.*" matches every name and "*." the names without a dot.

namespace {

enum class Token { Literal, Star, DosStar, DosQm, DosDot };

struct Item {
  Token token;
  char c;
};

std::vector<Item> Compile(const std::string& pattern) {
  std::vector<Item> items;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (c == '*') {
      items.push_back({next == '.' ? Token::DosStar : Token::Star, 0});
    } else if (c == '?') {
      items.push_back({Token::DosQm, 0});
    } else if (c == '.' && (next == '*' || next == '?' || next == '\0')) {
      items.push_back({Token::DosDot, 0});
    } else {
      items.push_back({Token::Literal, Upper(c)});
    }
  }
  return items;
}

struct Matcher {
  const std::vector<Item>& items;
  std::string_view name;
  size_t lastDot;
  std::vector<signed char>& memo;  // -1 unknown, 0 no, 1 yes

  bool At(size_t i, size_t j) {
    signed char& m = memo[i * (name.size() + 1) + j];
    if (m < 0) m = Compute(i, j) ? 1 : 0;
    return m == 1;
  }

  bool Compute(size_t i, size_t j) {
    size_t n = name.size();
    if (i == items.size()) return j == n;
    const Item& it = items[i];
    switch (it.token) {
      case Token::Literal:
        return j < n && Upper(name[j]) == it.c && At(i + 1, j + 1);
      case Token::Star:
        return At(i + 1, j) || (j < n && At(i, j + 1));
      case Token::DosStar:
        return At(i + 1, j) || (j < n && j != lastDot && At(i, j + 1));
      case Token::DosQm:
        if (j < n && name[j] != '.') return At(i + 1, j + 1);
        return At(i + 1, j);
      case Token::DosDot:
        return (j < n && name[j] == '.' && At(i + 1, j + 1)) || (j == n && At(i + 1, j));
    }
    return false;
  }
};

// memo is scratch space, reused from name to name.
bool MatchCompiled(const std::vector<Item>& items, std::string_view name,
                   std::vector<signed char>& memo) {
  size_t dot = name.rfind('.');
  memo.assign((items.size() + 1) * (name.size() + 1), -1);
  Matcher m{items, name, dot == std::string_view::npos ? name.size() + 1 : dot, memo};
  return m.At(0, 0);
}

bool MatchCompiled(const std::vector<Item>& items, const std::string& name) {
  std::vector<signed char> memo;
  return MatchCompiled(items, name, memo);
}

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  return MatchCompiled(Compile(pattern), name);
}

Dword AttributesFromMode(unsigned mode, const char* name) {
  // A named pipe, socket or device is no file to read or replace: it counts
  // as a system file, which the runtime leaves alone.
  const bool special = !S_ISDIR(mode) && !S_ISREG(mode) && !S_ISLNK(mode);
  Dword a = S_ISDIR(mode) ? kAttrDirectory : special ? kAttrSystem : kAttrArchive;
  // As Wine maps it: read-only when nobody may write, whoever we are.
  if (ReadOnlyMode(mode)) a |= kAttrReadOnly;
  if (name[0] == '.' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
    a |= kAttrHidden;
  }
  return a;
}

// --- Listings ---------------------------------------------------------------

namespace {

// The last folder read, kept for the next listing of the same folder: a run
// lists its folder twice in a row, and a large folder's read and sort are most
// of a listing's cost. It is used only while the folder is provably unchanged:
// same device, inode, size and change times, and those times lie well before
// the read began, so any change since would have given the folder a newer
// time. Never destroyed: listings may run during process exit.
struct FolderSnapshot {
  BackEndMutex mutex;
  bool valid = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};
  std::shared_ptr<const FolderNames> names;
};

FolderSnapshot& Snapshot() {
  static FolderSnapshot* snapshot = new FolderSnapshot;
  return *snapshot;
}

// How long before a read a folder must have last changed for its names to be
// kept: more than the granularity of the file system's clock.
constexpr int64_t kSettledNanoseconds = 1000000000;

int64_t Nanoseconds(const timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool SameFolder(const FolderSnapshot& s, const struct stat& st) {
  return s.valid && s.dev == st.st_dev && s.ino == st.st_ino && s.size == st.st_size &&
         s.mtime.tv_sec == st.st_mtim.tv_sec && s.mtime.tv_nsec == st.st_mtim.tv_nsec &&
         s.ctime.tv_sec == st.st_ctim.tv_sec && s.ctime.tv_nsec == st.st_ctim.tv_nsec;
}

// The names of the open folder: the snapshot's when it still holds,
// otherwise read now (and kept when the folder has settled); errno of a
// failed read in *readError.
std::shared_ptr<const FolderNames> FolderNamesOf(int folder, int* readError) {
  *readError = 0;
  struct stat st;
  const bool known = fstat(folder, &st) == 0;
  FolderSnapshot& snapshot = Snapshot();
  if (known) {
    std::lock_guard<BackEndMutex> lock(snapshot.mutex);
    if (SameFolder(snapshot, st)) return snapshot.names;
  }
  timespec readStart{};
  clock_gettime(CLOCK_REALTIME, &readStart);
  auto names = std::make_shared<FolderNames>();
  *readError = ReadFolderNames(folder, names.get());
  if (*readError != 0 || !known) return names;
  const int64_t settledBefore = Nanoseconds(readStart) - kSettledNanoseconds;
  std::lock_guard<BackEndMutex> lock(snapshot.mutex);
  if (Nanoseconds(st.st_mtim) < settledBefore && Nanoseconds(st.st_ctim) < settledBefore) {
    snapshot.valid = true;
    snapshot.dev = st.st_dev;
    snapshot.ino = st.st_ino;
    snapshot.size = st.st_size;
    snapshot.mtime = st.st_mtim;
    snapshot.ctime = st.st_ctim;
    snapshot.names = names;
  }
  return names;
}

// A listing's pattern taken apart: the folder to list and the pattern its
// names must match. False, with the last error set, when there is no name
// pattern.
bool SplitPattern(const char* pattern, std::string* folder, std::string* namePattern) {
  const std::string p = ToPosixPath(pattern);
  if (p.empty()) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  const size_t cut = p.rfind('/');
  *folder = cut == std::string::npos ? "." : cut == 0 ? "/" : p.substr(0, cut);
  *namePattern = cut == std::string::npos ? p : p.substr(cut + 1);
  if (namePattern->empty()) {
    SetLastError(kErrorFileNotFound);
    return false;
  }
  return true;
}

// The entries of find's folder (open as folder) whose names match
// namePattern, with their attributes (see FindFirst for basic).
void AddMatchingEntries(int folder, const std::string& namePattern, bool basic,
                        FindObject* find) {
  const std::vector<Item> items = Compile(namePattern);
  // "*" and "*.*" match every name; the common case needs no matching.
  const bool matchAll = namePattern == "*" || namePattern == "*.*";
  std::vector<signed char> memo;
  auto matches = [&](std::string_view name) {
    return matchAll || MatchCompiled(items, name, memo);
  };
  const FolderNames& names = *find->folder;
  find->entries.reserve(names.sorted.size() + 2);
  bool link = false;
  // "." and ".." come first, as Windows lists them.
  for (const char* dot : {".", ".."}) {
    if (!matches(dot)) continue;
    const Dword attributes = EntryAttributes(folder, dot, DT_DIR, !basic, &link);
    find->entries.push_back(
        {dot, static_cast<uint32_t>(std::strlen(dot)),
         attributes != kInvalidFileAttributes ? attributes : kAttrDirectory});
  }
  for (const ListedName& n : names.sorted) {
    const std::string_view name = names.NameAt(n);
    if (!matches(name)) continue;
    const Dword attributes = EntryAttributes(folder, name.data(), n.type, !basic, &link);
    if (attributes == kInvalidFileAttributes) continue;
    find->entries.push_back({name.data(), n.length, attributes});
  }
}

// Lists the folder of pattern. basic: the attribute word comes from the
// directory entry (its type and the name) wherever the type is known, which
// spares one fstatat per entry, the bulk of a large listing's cost.
Handle FindFirst(const char* pattern, FindDataA* data, bool basic) {
  std::string folder, namePattern;
  if (!SplitPattern(pattern, &folder, &namePattern)) return InvalidHandle();
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    SetLastError(error == ENOENT || error == ENOTDIR ? kErrorPathNotFound
                                                     : ErrorFromErrno(error, folder));
    return InvalidHandle();
  }
  // Closed on every way out, an allocation failure included.
  const struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  auto find = std::make_unique<FindObject>();
  int readError = 0;
  find->folder = FolderNamesOf(fd, &readError);
  if (readError != 0) {
    SetLastErrorFromErrno(readError, folder);
    return InvalidHandle();
  }
  AddMatchingEntries(fd, namePattern, basic, find.get());
  if (find->entries.empty()) {
    SetLastError(kErrorFileNotFound);
    return InvalidHandle();
  }
  Fill(data, find->entries[0]);
  find->next = 1;
  SetLastError(kErrorSuccess);
  return Register(find.release());
}

}  // namespace

Handle FindFirstFileA(const char* pattern, FindDataA* data) {
  return FindFirst(pattern, data, false);
}

Handle FindFirstFileExA(const char* pattern, int infoLevel, FindDataA* data, int searchOp,
                        void* searchFilter, Dword) {
  if ((infoLevel != kFindExInfoStandard && infoLevel != kFindExInfoBasic) ||
      searchOp != kFindExSearchNameMatch || searchFilter != nullptr) {
    SetLastError(kErrorInvalidParameter);
    return InvalidHandle();
  }
  return FindFirst(pattern, data, infoLevel == kFindExInfoBasic);
}

Bool FindNextFileA(Handle handle, FindDataA* data) {
  auto* find = Lookup<FindObject>(handle, HandleObject::Kind::Find, false);
  if (find == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  if (find->next >= find->entries.size()) {
    SetLastError(kErrorNoMoreFiles);
    return 0;
  }
  Fill(data, find->entries[find->next++]);
  return 1;
}

Bool FindClose(Handle handle) {
  auto* find = Lookup<FindObject>(handle, HandleObject::Kind::Find, true);
  if (find == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  delete find;
  return 1;
}

// --- Files ------------------------------------------------------------------

namespace {

// The open(2) flags of a CreateFileA call; *write: whether it writes.
int OpenFlags(Dword access, const SecurityAttributes* security, bool* write) {
  *write = (access & (kGenericWrite | kGenericAll | kFileWriteData | kFileAppendData)) != 0;
  const bool read = (access & (kGenericRead | kGenericAll | kFileReadData)) != 0;
  int flags = *write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
  // Never wait on open: a named pipe would block until someone opens its
  // other end. Pipes are refused once open (see SettleOpened).
  flags |= O_NOCTTY | O_NONBLOCK;
  if (security == nullptr || !security->bInheritHandle) flags |= O_CLOEXEC;
  return flags;
}

// Whether Windows would refuse to open the existing file at path so: it
// refuses to write to a read-only file, and to replace a hidden one unless
// the caller asks for a hidden file again. Root would not be stopped by the
// mode bits, so both are checked here.
bool RefusedExisting(const std::string& path, bool write, Dword disposition,
                     Dword flagsAndAttributes) {
  struct stat st;
  if (disposition == kCreateNew || stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
    return false;
  }
  const bool truncate = disposition == kCreateAlways || disposition == kTruncateExisting;
  if ((write || truncate) && ReadOnlyMode(st.st_mode)) return true;
  return disposition == kCreateAlways &&
         (AttributesFromMode(st.st_mode, LastComponent(path).c_str()) & kAttrHidden) != 0 &&
         (flagsAndAttributes & kAttrHidden) == 0;
}

// Opens or creates path as disposition says; -1 with errno on failure.
// *existed: whether the file was there before.
int OpenAsDisposed(const char* path, int flags, Dword disposition, mode_t mode, bool* existed) {
  *existed = false;
  if (disposition == kCreateNew) return open(path, flags | O_CREAT | O_EXCL, mode);
  if (disposition == kCreateAlways || disposition == kOpenAlways) {
    // Try to create first, so the caller learns whether the file was there.
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
      fd = open(path, flags | O_CREAT | O_EXCL, mode);
      if (fd >= 0 || errno != EEXIST) break;
      fd = open(path, flags);
      *existed = fd >= 0;
      if (fd < 0 && errno != ENOENT) break;
    }
    return fd;
  }
  const int fd = open(path, flags);
  *existed = fd >= 0;
  return fd;
}

// Makes the newly opened fd a Win32 file handle's descriptor: no folder,
// pipe or socket; blocking; the sharing asked for; truncated when asked. 0,
// or the Win32 error, with fd closed.
Dword SettleOpened(int fd, Dword share, bool truncate, const std::string& path) {
  Dword error = 0;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) ||
      S_ISSOCK(st.st_mode)) {
    // A folder, a named pipe or a socket: no file to read or write.
    error = kErrorAccessDenied;
  } else {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // Sharing: no sharing excludes every other opener and is refused while
    // anyone else has the file open; any sharing admits other sharers.
    if (flock(fd, (share == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      error = kErrorSharingViolation;
    } else if (truncate && ftruncate(fd, 0) != 0) {
      error = ErrorFromErrno(errno, path);
    }
  }
  if (error != 0) close(fd);
  return error;
}

}  // namespace

Handle CreateFileA(const char* path, Dword access, Dword share, SecurityAttributes* security,
                   Dword disposition, Dword flagsAndAttributes, Handle) {
  const std::string p = ToPosixPath(path);
  if (p.empty()) {
    SetLastError(kErrorPathNotFound);
    return InvalidHandle();
  }
  bool write = false;
  const int flags = OpenFlags(access, security, &write);
  if (disposition < kCreateNew || disposition > kTruncateExisting ||
      (disposition == kTruncateExisting && !write)) {
    SetLastError(kErrorInvalidParameter);
    return InvalidHandle();
  }
  if (write) IgnoreFileSizeSignal();
  if (RefusedExisting(p, write, disposition, flagsAndAttributes)) {
    SetLastError(kErrorAccessDenied);
    return InvalidHandle();
  }

  // The handle's object comes first: once a file is made, running out of
  // memory must not end the run before the file is gone again.
  auto object = std::make_unique<FileObject>(-1);
  const mode_t mode = (flagsAndAttributes & kAttrReadOnly) ? 0444 : 0666;
  bool existed = false;
  const int fd = OpenAsDisposed(p.c_str(), flags, disposition, mode, &existed);
  if (fd < 0) {
    // ENXIO: a named pipe without a reader, or a socket; no file either way.
    SetLastError(errno == ENXIO ? kErrorAccessDenied : ErrorFromErrno(errno, p));
    return InvalidHandle();
  }
  const bool truncate = disposition == kCreateAlways || disposition == kTruncateExisting;
  if (const Dword error = SettleOpened(fd, share, truncate, p)) {
    SetLastError(error);
    return InvalidHandle();
  }
  SetLastError(existed && (disposition == kCreateAlways || disposition == kOpenAlways)
                   ? kErrorAlreadyExists
                   : kErrorSuccess);
  try {
    object->fd = fd;
    return Register(object.release());
  } catch (const std::bad_alloc&) {
    // The run ends now: a file this call made must not stay behind.
    close(fd);
    if (!existed) unlink(p.c_str());
    throw;
  }
}

Bool WriteFile(Handle handle, const void* bytes, Dword count, Dword* written, void* overlapped) {
  if (written != nullptr) *written = 0;
  auto* file = Lookup<FileObject>(handle, HandleObject::Kind::File, false);
  if (file == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  if (overlapped != nullptr || (bytes == nullptr && count != 0)) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  const char* p = static_cast<const char*>(bytes);
  Dword done = 0;
  while (done < count) {
    ssize_t n = write(file->fd, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      // A handle opened without write access.
      SetLastError(errno == EBADF ? kErrorAccessDenied : ErrorFromErrno(errno, std::string()));
      if (written != nullptr) *written = done;
      return 0;
    }
    done += static_cast<Dword>(n);
  }
  if (written != nullptr) *written = done;
  return 1;
}

Bool FlushFileBuffers(Handle handle) {
  auto* file = Lookup<FileObject>(handle, HandleObject::Kind::File, false);
  if (file == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  if (fsync(file->fd) != 0) {
    SetLastErrorFromErrno(errno);
    return 0;
  }
  return 1;
}

Bool CloseHandle(Handle handle) {
  auto* file = Lookup<FileObject>(handle, HandleObject::Kind::File, true);
  if (file == nullptr) {
    // Find handles are closed with FindClose, as on Windows.
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  // The descriptor is gone whatever close says (EINTR included); an error is
  // still reported, as it may be a delayed write error.
  int result = close(file->fd);
  int error = errno;
  delete file;
  if (result != 0 && error != EINTR) {
    SetLastErrorFromErrno(error);
    return 0;
  }
  return 1;
}

Dword GetFileAttributesA(const char* path) {
  std::string p = ToPosixPath(path);
  if (p.empty()) {
    SetLastError(kErrorPathNotFound);
    return kInvalidFileAttributes;
  }
  struct stat st;
  if (stat(p.c_str(), &st) != 0 && lstat(p.c_str(), &st) != 0) {
    SetLastErrorFromErrno(errno, p);
    return kInvalidFileAttributes;
  }
  return AttributesFromMode(st.st_mode, LastComponent(p).c_str());
}

namespace {

// Whether Windows would refuse to move source to target with these flags:
// it replaces nothing unless asked, and never a folder, a read-only file or a
// file another opener holds. 0 or the Win32 error; *sameFile: whether both
// name one file (a change of case, say).
Dword RefusedMove(const char* source, const char* target, Dword flags, bool* sameFile) {
  struct stat src, dst;
  if (lstat(source, &src) != 0) return ErrorFromErrno(errno, source);
  const bool targetExists = lstat(target, &dst) == 0;
  *sameFile = targetExists && src.st_dev == dst.st_dev && src.st_ino == dst.st_ino;
  if (!targetExists || *sameFile) return 0;
  if (!(flags & kMoveReplaceExisting)) return kErrorAlreadyExists;
  if (S_ISDIR(dst.st_mode) || S_ISDIR(src.st_mode) ||
      (!S_ISLNK(dst.st_mode) && ReadOnlyMode(dst.st_mode))) {
    return kErrorAccessDenied;
  }
  if (S_ISREG(dst.st_mode) && HeldElsewhere(target)) return kErrorSharingViolation;
  return 0;
}

// Renames source to target, replacing only when flags ask for it. 0 or the
// Win32 error.
Dword RenameAsFlagged(const char* source, const char* target, Dword flags, bool sameFile) {
  int result;
  if (flags & kMoveReplaceExisting) {
    result = rename(source, target);
  } else {
    // Without replacing, a target that appears meanwhile must survive.
    result = renameat2(AT_FDCWD, source, AT_FDCWD, target, RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // The file system cannot do that atomically; check, then rename.
      struct stat again;
      if (lstat(target, &again) == 0 && !sameFile) return kErrorAlreadyExists;
      result = rename(source, target);
    }
  }
  if (result == 0) return 0;
  const int error = errno;
  if (error == EEXIST) return kErrorAlreadyExists;
  // Copying across file systems is not offered; say why the move failed.
  if (error == EXDEV && (flags & kMoveCopyAllowed)) return kErrorNotSameDevice;
  return ErrorFromErrno(error, error == ENOENT ? target : source);
}

}  // namespace

Bool MoveFileExA(const char* from, const char* to, Dword flags) {
  if (from == nullptr || to == nullptr || (flags & (kMoveDelayUntilReboot | kMoveCreateHardlink))) {
    // Moves at the next boot and hard links are not offered by this back-end.
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  // No heap from here on: this is how a temporary file is moved into place,
  // or out of the way, when memory has run out.
  const PosixPath sourcePath(from);
  const PosixPath targetPath(to);
  if (!sourcePath.ok() || !targetPath.ok()) {
    SetLastError(!sourcePath.ok() ? sourcePath.error() : targetPath.error());
    return 0;
  }
  bool sameFile = false;
  Dword error = RefusedMove(sourcePath.c_str(), targetPath.c_str(), flags, &sameFile);
  if (error == 0) error = RenameAsFlagged(sourcePath.c_str(), targetPath.c_str(), flags, sameFile);
  if (error != 0) {
    SetLastError(error);
    return 0;
  }
  if (flags & kMoveWriteThrough) {
    // The rename is on disk once the folders that changed are. The move has
    // happened either way, so a folder that cannot be synced does not turn it
    // into a failure.
    SyncFolderOf(targetPath.view());
    if (FolderPart(sourcePath.view()) != FolderPart(targetPath.view())) {
      SyncFolderOf(sourcePath.view());
    }
  }
  return 1;
}

Bool DeleteFileA(const char* path) {
  // No heap: a temporary file is removed this way when memory has run out.
  const PosixPath posixPath(path);
  if (!posixPath.ok()) {
    SetLastError(posixPath.error());
    return 0;
  }
  const char* p = posixPath.c_str();
  struct stat st;
  if (lstat(p, &st) != 0) {
    SetLastErrorFromErrno(errno, p);
    return 0;
  }
  // Windows deletes neither folders nor read-only files, nor a file another
  // opener holds.
  if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && ReadOnlyMode(st.st_mode))) {
    SetLastError(kErrorAccessDenied);
    return 0;
  }
  if (S_ISREG(st.st_mode) && HeldElsewhere(p)) {
    SetLastError(kErrorSharingViolation);
    return 0;
  }
  if (unlink(p) != 0) {
    SetLastErrorFromErrno(errno, p);
    return 0;
  }
  return 1;
}

// A write past the file-size limit must fail with EFBIG, not kill the process
// (a file written, or standard output redirected to a file).
void IgnoreFileSizeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current;
    if (sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      signal(SIGXFSZ, SIG_IGN);
    }
  });
}

}  // namespace os::posix
