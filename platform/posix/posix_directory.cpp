// Reading a folder on POSIX systems, for the per-folder listing
// (FindFirstFileA) and the folder access's listing alike: every name of an open
// folder with getdents64, in the order NTFS keeps, and each entry's Win32
// attribute word, taken from the entry's type where that tells enough and
// from fstatat otherwise.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/posix_internal.h"

namespace os::posix {
namespace {

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// What an entry's type says of it: a folder or a regular file.
Dword AttributesFromType(unsigned char type, const char* name) {
  return AttributesFromMode(type == DT_DIR ? S_IFDIR | 0700 : S_IFREG | 0600, name);
}

}  // namespace

int ReadFolderNames(int folder, FolderNames* read) {
  read->names.clear();
  read->sorted.clear();
  bool ascii = true;  // every name so far
  alignas(8) char buffer[32768];
  for (;;) {
    const ssize_t n = getdents64(folder, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += e->d_reclen;
      const char* name = e->d_name;
      if (IsDotOrDotDot(name)) continue;
      const size_t length = std::strlen(name);
      if (length >= kMaxPath) continue;  // no Windows name is that long
      for (size_t i = 0; i < length && ascii; ++i) {
        ascii = static_cast<unsigned char>(name[i]) < 0x80;
      }
      const auto offset = static_cast<uint32_t>(read->names.size());
      read->names.append(name, length + 1);
      read->sorted.push_back({offset, static_cast<uint32_t>(length), offset,
                              static_cast<uint32_t>(length), e->d_type});
    }
  }
  SortListedNames(read->names, ascii, &read->sorted);
  return 0;
}

Dword EntryAttributes(int folder, const char* name, unsigned char type, bool examine,
                      bool* link) {
  *link = type == DT_LNK;
  if (!examine && (type == DT_DIR || type == DT_REG)) return AttributesFromType(type, name);
  struct stat st;
  if (type == DT_UNKNOWN) {
    // Only the entry itself says whether it is a link.
    if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return errno == ENOENT ? kInvalidFileAttributes : AttributesFromType(type, name);
    }
    *link = S_ISLNK(st.st_mode);
    if (!*link) return AttributesFromMode(st.st_mode, name);
  }
  // A link shows as its target shows (a folder's link as a folder); one
  // whose target is missing, as itself.
  if (fstatat(folder, name, &st, 0) == 0 || fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    return AttributesFromMode(st.st_mode, name);
  }
  // Gone since it was listed (another process's temporary file): nobody is
  // handed a name that no longer exists. Present but not to be examined:
  // what the entry's type said.
  return errno == ENOENT ? kInvalidFileAttributes : AttributesFromType(type, name);
}

}  // namespace os::posix
