// The whole-tree tool's walk on POSIX systems: folders opened relative to
// their parent's descriptor without following links, listed once with
// getdents64 (types from the entries, fstatat only for links and unknown
// types), and every file of a folder read, created and renamed relative to
// the folder's descriptor. No path is looked up from / again, so a folder
// swapped for a link is never entered and paths of any length work.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/posix/posix_internal.h"
#include "platform/tree_os.h"

namespace os::tree {
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
    case ENOTDIR: return folder ? posix::kErrorDirectory : kErrorPathNotFound;
    case ELOOP: return kErrorIsLink;
    case EISDIR: return kErrorIsFolder;
    case EFBIG: return kErrorFileTooLarge;
    default: return posix::ErrorFromErrno(error, std::string_view());
  }
}


bool IsHiddenName(std::string_view name) { return !name.empty() && name[0] == '.'; }

// One syncfs for each file system the descriptors are on.
Dword SyncDescriptors(const std::vector<const FolderHandle*>& folders) {
  std::set<dev_t> done;
  Dword first = 0;
  for (const FolderHandle* folder : folders) {
    struct stat st;
    const int fd = static_cast<int>(folder->native());
    if (fstat(fd, &st) != 0) {
      if (first == 0) first = ErrorOf(errno, true);
      continue;
    }
    if (!done.insert(st.st_dev).second) continue;
    if (syncfs(fd) != 0 && first == 0) first = ErrorOf(errno, false);
  }
  return first;
}

bool AllValid(const std::vector<const FolderHandle*>& folders) {
  if (folders.empty()) return false;
  for (const FolderHandle* f : folders) {
    if (f == nullptr || !f->valid()) return false;
  }
  return true;
}

}  // namespace

FolderHandle::~FolderHandle() {
  if (native_ != -1) close(static_cast<int>(native_));
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
  if (this != &other) {
    if (native_ != -1) close(static_cast<int>(native_));
    native_ = other.native_;
    other.native_ = -1;
  }
  return *this;
}

bool RelativeFiles() { return true; }

HandleBudget FolderHandleBudget() {
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

Dword OpenRootFolder(const std::string& fullPath, FolderHandle* folder, std::string* ownName) {
  const std::string p = posix::ToPosixPath(fullPath.c_str());
  const int fd = open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return ErrorOf(errno, true);
  *folder = FolderHandle(fd);
  const size_t cut = p.rfind('/');
  *ownName = cut == std::string::npos ? p : p.substr(cut + 1);
  return 0;
}

Dword OpenSubFolder(const FolderHandle& parent, const std::string&, std::string_view name,
                    FolderHandle* folder) {
  const std::string n(name);
  const int fd = openat(static_cast<int>(parent.native()), n.c_str(),
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd >= 0) {
    *folder = FolderHandle(fd);
    return 0;
  }
  const int error = errno;
  if (error == ENOTDIR) {
    // Some systems refuse a link with O_DIRECTORY before O_NOFOLLOW.
    struct stat st;
    if (fstatat(static_cast<int>(parent.native()), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      return kErrorIsLink;
    }
  }
  return ErrorOf(error, true);
}

uint64_t FolderIdentity(const FolderHandle& folder) {
  struct stat st;
  if (fstat(static_cast<int>(folder.native()), &st) != 0) return 0;
  return (static_cast<uint64_t>(st.st_dev) << 48) ^ static_cast<uint64_t>(st.st_ino) ^ 1;
}

Dword FolderAttributes(const FolderHandle& folder, std::string_view name) {
  struct stat st;
  if (fstat(static_cast<int>(folder.native()), &st) != 0) {
    posix::SetLastErrorFromErrno(errno);
    return kInvalidFileAttributes;
  }
  Dword attributes = kAttrDirectory;
  if (IsHiddenName(name) && name != "." && name != "..") attributes |= kAttrHidden;
  return attributes;
}

Dword ListFolder(const FolderHandle& folder, const std::string&,
                 std::vector<ListedEntry>* entries) {
  entries->clear();
  const int fd = static_cast<int>(folder.native());
  std::string names;
  std::vector<posix::ListedName> sorted;
  bool ascii = true;
  alignas(8) char buffer[32768];
  for (;;) {
    const ssize_t n = getdents64(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorOf(errno, true);
    }
    if (n == 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += e->d_reclen;
      const char* name = e->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      const size_t length = std::strlen(name);
      if (length >= kMaxPath) continue;  // no Windows name is that long
      for (size_t i = 0; i < length && ascii; ++i) {
        ascii = static_cast<unsigned char>(name[i]) < 0x80;
      }
      const auto offset = static_cast<uint32_t>(names.size());
      names.append(name, length + 1);
      sorted.push_back({offset, static_cast<uint32_t>(length), offset,
                        static_cast<uint32_t>(length), e->d_type});
    }
  }
  // The order NTFS keeps, as the per-folder program's listing gives it.
  posix::SortListedNames(names, ascii, &sorted);

  entries->reserve(sorted.size());
  for (const posix::ListedName& n : sorted) {
    const char* name = names.data() + n.offset;
    Dword attributes;
    if (n.type == DT_DIR || n.type == DT_REG) {
      attributes =
          posix::AttributesFromMode(n.type == DT_DIR ? S_IFDIR | 0700 : S_IFREG | 0600, name);
    } else {
      // A link shows as its target shows in the per-folder program's
      // listing (a folder's link as a folder), and is marked as a link.
      struct stat st;
      bool link = n.type == DT_LNK;
      if (n.type == DT_UNKNOWN) {
        if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
          if (errno == ENOENT) continue;  // gone since it was listed
          st.st_mode = S_IFREG | 0600;
        }
        link = S_ISLNK(st.st_mode);
      }
      if (n.type != DT_UNKNOWN || link) {
        if (fstatat(fd, name, &st, 0) != 0 &&
            fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
          if (errno == ENOENT) continue;
          st.st_mode = S_IFREG | 0600;
        }
      }
      attributes = posix::AttributesFromMode(st.st_mode, name);
      if (link) attributes |= kAttrLink;
    }
    entries->push_back({std::string(name, n.length), attributes});
  }
  return 0;
}

Dword ReadFileIn(const FolderHandle& folder, const std::string&, std::string_view name,
                 size_t limit, std::string* bytes) {
  bytes->clear();
  const std::string n(name);
  // No lock is taken: reading must not stand in the way of a concurrent
  // run's replace.
  const int fd = openat(static_cast<int>(folder.native()), n.c_str(),
                        O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return ErrorOf(errno, false);
  struct stat st;
  Dword error = 0;
  if (fstat(fd, &st) != 0) {
    error = ErrorOf(errno, false);
  } else if (S_ISDIR(st.st_mode)) {
    error = kErrorIsFolder;
  } else if (!S_ISREG(st.st_mode)) {
    error = kErrorAccessDenied;
  } else {
    bytes->reserve(std::min<size_t>(limit, static_cast<size_t>(st.st_size)));
    char buffer[65536];
    while (bytes->size() < limit) {
      const ssize_t got = read(fd, buffer, std::min(sizeof buffer, limit - bytes->size()));
      if (got < 0) {
        if (errno == EINTR) continue;
        error = ErrorOf(errno, false);
        break;
      }
      if (got == 0) break;
      bytes->append(buffer, static_cast<size_t>(got));
      // All the file held when it was opened: a file replaced meanwhile is
      // another file, and one written to meanwhile is being replaced anyway.
      if (bytes->size() == static_cast<size_t>(st.st_size)) break;
    }
  }
  close(fd);
  return error;
}

Dword CreateNewFileIn(const FolderHandle& folder, std::string_view name, intptr_t* file) {
  posix::IgnoreFileSizeSignal();
  const std::string n(name);
  const int fd = openat(static_cast<int>(folder.native()), n.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  // O_CREAT finds no entry to make only in a folder that has been removed.
  if (fd < 0) return errno == EEXIST ? kErrorFileExists : ErrorOf(errno, true);
  *file = fd;
  return 0;
}

Dword WriteAndClose(intptr_t file, const std::string& bytes) {
  const int fd = static_cast<int>(file);
  Dword error = 0;
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = ErrorOf(errno, false);
      break;
    }
    done += static_cast<size_t>(n);
  }
  // A failed close counts as closed, but what it should have stored is in
  // doubt.
  if (close(fd) != 0 && error == 0 && errno != EINTR) error = ErrorOf(errno, false);
  return error;
}

Dword AttributesIn(const FolderHandle& folder, std::string_view name) {
  const std::string n(name);
  struct stat st;
  if (fstatat(static_cast<int>(folder.native()), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return kInvalidFileAttributes;
  }
  Dword attributes = posix::AttributesFromMode(st.st_mode, n.c_str());
  if (S_ISLNK(st.st_mode)) attributes |= kAttrLink;
  return attributes;
}

Dword RenameIn(const FolderHandle& folder, std::string_view from, std::string_view to) {
  const std::string f(from), t(to);
  const int fd = static_cast<int>(folder.native());
  if (renameat(fd, f.c_str(), fd, t.c_str()) != 0) {
    // The folder itself is gone (removed while the batch waited): say so
    // rather than that a file is missing.
    if (errno == ENOENT) {
      struct stat st;
      if (fstat(fd, &st) == 0 && st.st_nlink == 0) return kErrorPathNotFound;
    }
    return ErrorOf(errno, false);
  }
  return 0;
}

bool DeleteIn(const FolderHandle& folder, std::string_view name) {
  // No allocation for a name that fits: this also removes the temporary
  // files when memory has run out.
  char n[256];
  if (name.size() >= sizeof n) return false;
  name.copy(n, name.size());
  n[name.size()] = '\0';
  return unlinkat(static_cast<int>(folder.native()), n, 0) == 0;
}

Dword SyncFiles(const std::vector<std::string>& paths,
                const std::vector<const FolderHandle*>& folders) {
  if (AllValid(folders)) return SyncDescriptors(folders);
  std::set<dev_t> done;
  Dword first = 0;
  for (const std::string& path : paths) {
    const std::string p = posix::ToPosixPath(path.c_str());
    struct stat st;
    if (stat(p.c_str(), &st) != 0) {
      if (first == 0) first = posix::ErrorFromErrno(errno, p);
      continue;
    }
    if (!done.insert(st.st_dev).second) continue;
    const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if ((fd < 0 || syncfs(fd) != 0) && first == 0) first = posix::ErrorFromErrno(errno, p);
    if (fd >= 0) close(fd);
  }
  return first;
}

void SyncFolders(const std::vector<const FolderHandle*>& folders) {
  if (AllValid(folders)) SyncDescriptors(folders);
}

}  // namespace os::tree
