// The start of a small file, read by the whole-tree tool on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_internal.h"
#include "platform/tree_os.h"

namespace os::tree {

Dword ReadFileStart(const std::string& path, size_t limit, std::string* bytes) {
  bytes->clear();
  const std::string p = posix::ToPosixPath(path.c_str());
  // Non-blocking, so that a named pipe under the file's name never waits.
  const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return posix::ErrorFromErrno(errno, p);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return kErrorAccessDenied;
  }
  char buffer[65536];
  while (bytes->size() < limit) {
    const size_t want =
        limit - bytes->size() < sizeof buffer ? limit - bytes->size() : sizeof buffer;
    const ssize_t n = read(fd, buffer, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      const Dword error = posix::ErrorFromErrno(errno, p);
      close(fd);
      return error;
    }
    if (n == 0) break;
    bytes->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return 0;
}

}  // namespace os::tree
