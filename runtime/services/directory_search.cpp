#include "runtime/services/directory_search.h"

#include <cstring>

#include "platform/platform.h"
#include "runtime/values/value_memory.h"

namespace rt {
namespace {

// The attribute bits a caller's mask may choose from: read-only, hidden,
// system, directory, archive.
constexpr uint32_t kFilterBits = 0x37;

bool Accepts(uint32_t attributes, uint32_t mask, bool maskOmitted) {
  if (maskOmitted) return (attributes & os::kAttrDirectory) == 0;
  if (mask == 0) return attributes == 0;
  return (attributes & mask) != 0;
}

// Set each time FindFile returns null: see SearchFailed.
bool g_searchFailed = false;

// Whether a listing ended by error, judged by the platform's last error:
// "file not found" when nothing matched, "no more files" at the end.
bool EndedByError(const os::Platform& platform) {
  const os::Dword error = platform.GetLastError();
  return error != os::kErrorFileNotFound && error != os::kErrorNoMoreFiles;
}

char* CopyName(const os::FindDataA& data) {
  // The platform terminates the name; never read past the record all the same.
  const void* end = std::memchr(data.cFileName, '\0', sizeof data.cFileName);
  const size_t length = end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) -
                                                             data.cFileName)
                                       : sizeof data.cFileName;
  auto* name = static_cast<char*>(AllocateBlock(static_cast<int32_t>(length + 1)));
  std::memcpy(name, data.cFileName, length);
  name[length] = '\0';
  return name;
}

}  // namespace

char* FindFile(const char* pattern, int32_t mask, int32_t maskOmitted, void** state) {
  const os::Platform& platform = os::Os();
  const bool omitted = maskOmitted != 0;
  const uint32_t m = static_cast<uint32_t>(mask) & kFilterBits;
  os::FindDataA data;

  if (pattern != nullptr && pattern[0] != '\0') {
    if (*state != nullptr) platform.FindClose(*state);
    // A filter on the directory bit alone (the manifest run's two passes)
    // asks for the basic listing, which the platform may give without
    // examining every file.
    const bool directoryBitOnly = omitted || m == os::kAttrDirectory;
    os::Handle handle =
        directoryBitOnly
            ? platform.FindFirstFileExA(pattern, os::kFindExInfoBasic, &data,
                                        os::kFindExSearchNameMatch, nullptr, 0)
            : platform.FindFirstFileA(pattern, &data);
    if (handle == os::InvalidHandle()) {
      g_searchFailed = EndedByError(platform);
      *state = nullptr;
      return nullptr;
    }
    *state = handle;
    if (Accepts(data.dwFileAttributes, m, omitted)) return CopyName(data);
  } else if (*state == nullptr) {
    g_searchFailed = false;
    return nullptr;  // nothing open: no platform call
  }

  for (;;) {
    if (!platform.FindNextFileA(*state, &data)) {
      // The end of the listing and an error end it alike; which one it was is
      // kept for SearchFailed.
      g_searchFailed = EndedByError(platform);
      platform.FindClose(*state);
      *state = nullptr;
      return nullptr;
    }
    if (Accepts(data.dwFileAttributes, m, omitted)) return CopyName(data);
  }
}

bool SearchFailed() { return g_searchFailed; }

void CloseSearch(void* handle) {
  if (handle != nullptr) os::Os().FindClose(handle);
}

}  // namespace rt
