// The start of a small file, read by the whole-tree tool on Windows.
#include <windows.h>

#include "platform/tree_os.h"

namespace os::tree {

Dword ReadFileStart(const std::string& path, size_t limit, std::string* bytes) {
  bytes->clear();
  const os::Platform& platform = os::Os();
  // Opened through the seam, so the path takes its \\?\ form; shared every
  // way, so that reading never stands in the way of an editor's save.
  Handle file = platform.CreateFileA(path.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == InvalidHandle()) return platform.GetLastError();
  char buffer[65536];
  while (bytes->size() < limit) {
    const size_t left = limit - bytes->size();
    DWORD n = 0;
    if (!::ReadFile(file, buffer, static_cast<DWORD>(left < sizeof buffer ? left : sizeof buffer),
                    &n, nullptr)) {
      const Dword error = ::GetLastError();
      platform.CloseHandle(file);
      return error;
    }
    if (n == 0) break;
    bytes->append(buffer, n);
  }
  platform.CloseHandle(file);
  return 0;
}

}  // namespace os::tree
