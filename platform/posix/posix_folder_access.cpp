// Folders on POSIX systems: each opened relative to its parent's descriptor
// without following a link, listed once with getdents64 (types from the
// entries, fstatat only for links and unknown types), and every file of a
// folder read, made, renamed and removed relative to the folder's
// descriptor. No path is looked up from / again, so a folder swapped for a
// link is never entered and paths of any length work.
#include <fcntl.h>
#include <sys/resource.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

#include "platform/folder_access.h"
#include "platform/path_parts.h"
#include "platform/posix/posix_internal.h"

namespace os {
namespace {

// Descriptors the run needs besides the walk's and the writer's: the three
// standard streams, a file and a folder opened for a moment, and some to
// spare for the C library.
constexpr rlim_t kOtherDescriptors = 10;

// The Win32 error of a relative call's errno. folder: whether the name is
// a folder (a missing one is "path not found", a missing file "file not
// found").
Dword ErrorOf(int error, bool folder) {
  switch (error) {
    case ENOENT: return folder ? kErrorPathNotFound : kErrorFileNotFound;
    case ENOTDIR: return folder ? kErrorDirectory : kErrorPathNotFound;
    case ELOOP: return kErrorIsLink;
    case EISDIR: return kErrorIsFolder;
    case EFBIG: return kErrorFileTooLarge;
    default: return posix::ErrorFromErrno(error, std::string_view());
  }
}

int Fd(const FolderHandle& folder) { return static_cast<int>(folder.native()); }

// A name as a C string, without allocating for one that fits: removing a
// temporary file must work when memory has run out.
class CName {
 public:
  explicit CName(std::string_view name) {
    if (name.size() < sizeof small_) {
      name.copy(small_, name.size());
      small_[name.size()] = '\0';
    } else {
      large_.assign(name);
    }
  }
  const char* get() const { return large_.empty() ? small_ : large_.c_str(); }

 private:
  char small_[256];
  std::string large_;
};

// One syncfs for each file system the folders are on.
Dword SyncFileSystems(const std::vector<const FolderHandle*>& folders) {
  std::set<dev_t> done;
  Dword first = 0;
  for (const FolderHandle* folder : folders) {
    struct stat st;
    if (fstat(Fd(*folder), &st) != 0) {
      if (first == 0) first = ErrorOf(errno, true);
      continue;
    }
    if (!done.insert(st.st_dev).second) continue;
    if (syncfs(Fd(*folder)) != 0 && first == 0) first = ErrorOf(errno, false);
  }
  return first;
}

Dword WriteAll(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorOf(errno, false);
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

// Reads fd to its end or to limit bytes, whichever comes first; size: the
// file's size when it was opened.
Dword ReadAll(int fd, size_t limit, off_t size, std::string* bytes) {
  bytes->reserve(std::min<size_t>(limit, static_cast<size_t>(size)));
  char buffer[65536];
  while (bytes->size() < limit) {
    const ssize_t got = read(fd, buffer, std::min(sizeof buffer, limit - bytes->size()));
    if (got < 0) {
      if (errno == EINTR) continue;
      return ErrorOf(errno, false);
    }
    if (got == 0) break;
    bytes->append(buffer, static_cast<size_t>(got));
    // All the file held when it was opened: a file replaced meanwhile is
    // another file, and one written to meanwhile is being replaced anyway.
    if (bytes->size() == static_cast<size_t>(size)) break;
  }
  return 0;
}

// Reads the file open as fd, as ReadAll does, when it is a regular file
// (kErrorIsFolder, kErrorNotRegularFile when not), and closes it.
Dword ReadRegularFile(int fd, size_t limit, std::string* bytes) {
  struct stat st;
  Dword error = 0;
  if (fstat(fd, &st) != 0) {
    error = ErrorOf(errno, false);
  } else if (S_ISDIR(st.st_mode)) {
    error = kErrorIsFolder;
  } else if (!S_ISREG(st.st_mode)) {
    error = kErrorNotRegularFile;
  } else {
    error = ReadAll(fd, limit, st.st_size, bytes);
  }
  close(fd);
  return error;
}

class PosixFolders final : public FolderAccess {
 public:
  HandleBudget Budget() const override {
    rlimit limit{};
    rlim_t available = 4096;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
      available = limit.rlim_cur > kOtherDescriptors ? limit.rlim_cur - kOtherDescriptors : 0;
    }
    // The walk holds the folders near ROOT, where most of a tree's folders
    // reopen from; the writer keeps one descriptor a staged manifest.
    const size_t walk = std::clamp<size_t>(available / 8, 1, 64);
    const size_t writer = std::clamp<size_t>(available > walk ? available - walk : 0, 1, 512);
    return {walk, writer};
  }

  Dword OpenRoot(const std::string& fullPath, FolderHandle* folder,
                 std::string* ownName) override {
    const std::string p = posix::ToPosixPath(fullPath.c_str());
    const int fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return ErrorOf(errno, true);
    *folder = FolderHandle(fd, fullPath);
    *ownName = std::string(PathLastName(fullPath));
    return 0;
  }

  // O_NOFOLLOW keeps the open from following a link: no number to check.
  Dword OpenSub(const FolderHandle& parent, std::string_view name, uint64_t,
                FolderHandle* folder) override {
    const CName n(name);
    const int fd =
        openat(Fd(parent), n.get(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
      *folder = FolderHandle(fd, JoinPath(parent.path(), name));
      return 0;
    }
    const int error = errno;
    if (error == ENOTDIR) {
      // Some systems refuse a link with O_DIRECTORY before O_NOFOLLOW.
      struct stat st;
      if (fstatat(Fd(parent), n.get(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        return kErrorIsLink;
      }
    }
    return ErrorOf(error, true);
  }

  Dword OpenParent(const FolderHandle& folder, FolderHandle* parent) override {
    const int fd = openat(Fd(folder), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return ErrorOf(errno, true);
    *parent = FolderHandle(fd, std::string(PathParent(folder.path())));
    return 0;
  }

  uint64_t Identity(const FolderHandle& folder) override {
    struct stat st;
    if (fstat(Fd(folder), &st) != 0) return 0;
    return (static_cast<uint64_t>(st.st_dev) << 48) ^ static_cast<uint64_t>(st.st_ino) ^ 1;
  }

  Dword Attributes(const FolderHandle& folder, std::string_view name) override {
    struct stat st;
    if (fstat(Fd(folder), &st) != 0) {
      posix::SetLastErrorFromErrno(errno);
      return kInvalidFileAttributes;
    }
    Dword attributes = kAttrDirectory;
    if (name.starts_with('.') && name != "." && name != "..") attributes |= kAttrHidden;
    return attributes;
  }

  Dword List(const FolderHandle& folder, std::vector<ListedEntry>* entries) override;

  Dword ReadFile(const FolderHandle& folder, std::string_view name, size_t limit,
                 std::string* bytes) override {
    bytes->clear();
    // No lock is taken: reading must not stand in the way of a concurrent
    // run's replace.
    const int fd = openat(Fd(folder), CName(name).get(),
                          O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return ErrorOf(errno, false);
    return ReadRegularFile(fd, limit, bytes);
  }

  Dword FileAttributes(const FolderHandle& folder, std::string_view name) override {
    const CName n(name);
    struct stat st;
    if (fstatat(Fd(folder), n.get(), &st, AT_SYMLINK_NOFOLLOW) != 0) return kInvalidFileAttributes;
    Dword attributes = posix::AttributesFromMode(st.st_mode, n.get());
    if (S_ISLNK(st.st_mode)) attributes |= kAttrLink;
    return attributes;
  }

  Dword Stage(const FolderHandle& folder, std::string_view name, const std::string& bytes,
              StagedFile* file) override {
    posix::IgnoreFileSizeSignal();
    const CName n(name);
    const int fd = openat(Fd(folder), n.get(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    // O_CREAT finds no entry to make only in a folder that has been removed.
    if (fd < 0) return errno == EEXIST ? kErrorFileExists : ErrorOf(errno, true);
    Dword error = WriteAll(fd, bytes);
    // A failed close counts as closed, but what it should have stored is in
    // doubt.
    if (close(fd) != 0 && error == 0 && errno != EINTR) error = ErrorOf(errno, false);
    if (error != 0) {
      unlinkat(Fd(folder), n.get(), 0);
      return error;
    }
    *file = StagedFile{std::string(name), -1};
    return 0;
  }

  size_t SyncBatchSize() const override { return 512; }

  Dword Sync(const std::vector<const FolderHandle*>& folders,
             const std::vector<const StagedFile*>&) override {
    return SyncFileSystems(folders);
  }

  Dword Replace(const FolderHandle& folder, StagedFile* file, std::string_view target) override {
    const int fd = Fd(folder);
    if (renameat(fd, CName(file->name).get(), fd, CName(target).get()) != 0) {
      // The folder itself is gone (removed while the batch waited), or is
      // being emptied (the staged file went with the rest of its files, as
      // under rm -r): say so rather than that a file is missing.
      if (errno == ENOENT) {
        struct stat st;
        if (fstat(fd, &st) == 0 && st.st_nlink == 0) return kErrorPathNotFound;
        if (fstatat(fd, CName(file->name).get(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
          return kErrorPathNotFound;
        }
        errno = ENOENT;
      }
      return ErrorOf(errno, false);
    }
    return 0;
  }

  bool HeldByAnother(Dword error) const override { return error == kErrorSharingViolation; }

  void Discard(const FolderHandle& folder, StagedFile* file) override {
    Remove(folder, file->name);
  }

  bool Remove(const FolderHandle& folder, std::string_view name) override {
    return unlinkat(Fd(folder), CName(name).get(), 0) == 0;
  }

  void SyncRenames(const std::vector<const FolderHandle*>& folders) override {
    SyncFileSystems(folders);
  }

  Dword Stamp(const FolderHandle& folder, std::string_view name, FileStamp* stamp) override {
    const CName n(name);
    struct stat st;
    if (fstatat(Fd(folder), n.get(), &st, AT_SYMLINK_NOFOLLOW | (name.empty() ? AT_EMPTY_PATH : 0)) !=
        0) {
      return ErrorOf(errno, false);
    }
    stamp->identity = (static_cast<uint64_t>(st.st_dev) << 48) ^ static_cast<uint64_t>(st.st_ino) ^ 1;
    stamp->written = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    stamp->changed = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
    stamp->size = static_cast<uint64_t>(st.st_size);
    stamp->attributes = posix::AttributesFromMode(st.st_mode, n.get());
    if (S_ISLNK(st.st_mode)) stamp->attributes |= kAttrLink;
    return 0;
  }

  Dword OpenBeneath(const FolderHandle& top, std::string_view relative,
                    FolderHandle* folder) override {
    // One lookup that refuses every link and never leaves top; a system
    // without it, or a path too long for one lookup, goes name by name.
    const std::string path = relative.empty() ? std::string(".") : posix::ToPosixPath(std::string(relative).c_str());
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = syscall(SYS_openat2, Fd(top), path.c_str(), &how, sizeof how);
    if (fd >= 0) {
      *folder = FolderHandle(fd, relative.empty() ? top.path() : JoinPath(top.path(), relative));
      return 0;
    }
    if (errno == ELOOP || errno == EXDEV) return kErrorIsLink;
    if (errno == ENOENT || errno == ENOTDIR || errno == EACCES) return ErrorOf(errno, true);
    if (relative.empty()) return OpenBeneathItself(top, folder);
    return OpenNameByName(top, relative, folder);
  }

  Dword OpenToKeep(const std::string& fullPath, FolderHandle* folder) override {
    std::string ownName;
    return OpenRoot(fullPath, folder, &ownName);
  }

  bool Removed(const FolderHandle& folder) override {
    struct stat st;
    return fstat(Fd(folder), &st) != 0 || st.st_nlink == 0;
  }

 private:
  // top opened once more.
  Dword OpenBeneathItself(const FolderHandle& top, FolderHandle* folder) {
    const int fd = openat(Fd(top), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return ErrorOf(errno, true);
    *folder = FolderHandle(fd, top.path());
    return 0;
  }
};

Dword PosixFolders::List(const FolderHandle& folder, std::vector<ListedEntry>* entries) {
  entries->clear();
  posix::FolderNames read;
  if (const int error = posix::ReadFolderNames(Fd(folder), &read)) return ErrorOf(error, true);
  entries->reserve(read.sorted.size());
  for (const posix::ListedName& n : read.sorted) {
    const std::string_view name = read.NameAt(n);
    bool link = false;
    Dword attributes = posix::EntryAttributes(Fd(folder), name.data(), n.type, false, &link);
    if (attributes == kInvalidFileAttributes) continue;  // gone since it was listed
    if (link) attributes |= kAttrLink;
    entries->push_back({std::string(name), attributes});
  }
  return 0;
}

}  // namespace

void FolderHandle::Close(intptr_t native) { close(static_cast<int>(native)); }

FolderAccess& SystemFolders() {
  static PosixFolders* folders = new PosixFolders;  // never destroyed: used until the end
  return *folders;
}

bool FullPath(const std::string& path, std::string* full, Dword* error) {
  // The path as the user gave it: a POSIX path, whose '\\' is part of a name.
  if (path.empty()) {
    *error = kErrorPathNotFound;
    return false;
  }
  // Freed however this ends: the conversion below may run out of memory.
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                             &std::free);
  if (resolved == nullptr) {
    *error = posix::ErrorFromErrno(errno, path);
    return false;
  }
  // The seam's paths are '\\'-separated: a real path holding '\\' would
  // name another folder once converted.
  if (std::strchr(resolved.get(), '\\') != nullptr) {
    *error = kErrorInvalidName;
    return false;
  }
  *full = posix::ToWindowsPath(resolved.get());
  return true;
}

Dword ReadFileStart(const std::string& path, size_t limit, std::string* bytes) {
  bytes->clear();
  const std::string p = posix::ToPosixPath(path.c_str());
  // Non-blocking, so that a named pipe under the file's name never waits.
  const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return posix::ErrorFromErrno(errno, p);
  return ReadRegularFile(fd, limit, bytes);
}

// A POSIX file system takes a name as its bytes.
bool NamesAnyCase() { return false; }

}  // namespace os
