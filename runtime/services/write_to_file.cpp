// WriteToFile: replaces a file with the bytes of one or more ByteBlocks.
//
// The bytes go to a new temporary file beside the target first; only once
// every byte is written, flushed and the file closed does that file take the
// target's place, in one rename. Whatever fails on the way, the temporary
// file is removed and the target keeps exactly the bytes it had, so a full
// disk never leaves a half-written manifest behind.
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "rules/refused_target.h"
#include "rules/temporary_file_name.h"
#include "runtime/services/command.h"

namespace rt {
namespace {

// Attempts at a free temporary name before giving up.
constexpr int kTemporaryNameAttempts = 100;

// The length of the folder part of path, separator included: 0 for a bare
// name, 2 for a drive-relative "C:name". Scans by characters of the ANSI code
// page, so the second byte of a double-byte character is never taken for a
// backslash.
size_t FolderPartLength(const char* path) {
  const os::Platform& platform = os::Os();
  size_t length = 0;
  for (size_t i = 0; path[i] != '\0';) {
    const auto byte = static_cast<uint8_t>(path[i]);
    if (byte == '\\' || byte == '/') {
      length = i + 1;
      ++i;
    } else if (byte == ':' && i == 1) {
      length = 2;
      ++i;
    } else if (byte >= 0x80 && path[i + 1] != '\0' &&
               platform.IsDBCSLeadByteEx(os::kCodePageAnsi, byte)) {
      i += 2;
    } else {
      ++i;
    }
  }
  return length;
}

// Creates a new, empty file in the folder of path under a name nobody uses
// (CREATE_NEW never opens an existing file). Returns the invalid handle when
// no such file could be made.
os::Handle CreateTemporaryFile(const char* path, std::string* name) {
  const os::Platform& platform = os::Os();
  const std::string folder(path, FolderPartLength(path));
  os::SecurityAttributes security{static_cast<os::Dword>(sizeof(os::SecurityAttributes)),
                                  nullptr, 1};
  const os::Dword pid = platform.GetCurrentProcessId();
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    *name = folder + rules::TemporaryFileName(rules::TemporaryFileWriter::PerFolderProgram,
                                              pid, static_cast<unsigned long>(attempt));
    os::Handle file = platform.CreateFileA(name->c_str(), os::kGenericWrite, 0, &security,
                                           os::kCreateNew, os::kAttrNormal, nullptr);
    if (file != os::InvalidHandle()) return file;
    const os::Dword error = platform.GetLastError();
    if (error != os::kErrorFileExists && error != os::kErrorAlreadyExists) break;
  }
  name->clear();
  return os::InvalidHandle();
}

// Writes every block's payload, in order; false on the first failed or short
// write. Blocks of length 0 (and null, the empty block) are skipped.
bool WriteBlocks(os::Handle file, int32_t count, const ArgRecord* args) {
  const os::Platform& platform = os::Os();
  for (int32_t i = 1; i < count; ++i) {
    const auto* block = reinterpret_cast<const uint8_t*>(args[i].value);
    if (block == nullptr) continue;
    int32_t length;
    std::memcpy(&length, block + 4, sizeof length);
    if (length <= 0) continue;
    os::Dword written = 0;
    if (!platform.WriteFile(file, block + 8, static_cast<os::Dword>(length), &written, nullptr) ||
        written != static_cast<os::Dword>(length)) {
      return false;
    }
  }
  return true;
}

// Whether some other opener holds the target: opening it for writing without
// sharing fails then. A target that is gone by now is no obstacle.
bool TargetHeldElsewhere(const char* path) {
  const os::Platform& platform = os::Os();
  os::Handle probe = platform.CreateFileA(path, os::kGenericWrite, 0, nullptr, os::kOpenExisting,
                                          os::kAttrNormal, nullptr);
  if (probe == os::InvalidHandle()) {
    const os::Dword error = platform.GetLastError();
    return error != os::kErrorFileNotFound && error != os::kErrorPathNotFound;
  }
  platform.CloseHandle(probe);
  return false;
}

// The temporary file of the WriteToFile in progress, for a runtime error
// that ends the process meanwhile; null when there is none.
const char* g_pendingTemporary = nullptr;

bool ReplaceTarget(const char* path, int32_t count, const ArgRecord* args) {
  const os::Platform& platform = os::Os();
  const os::Dword attributes = platform.GetFileAttributesA(path);
  const bool targetExists = attributes != os::kInvalidFileAttributes;
  if (rules::RefusedTarget(attributes) != nullptr) return false;

  std::string temporary;
  os::Handle file = CreateTemporaryFile(path, &temporary);
  if (file == os::InvalidHandle()) return false;  // a missing folder ends here
  g_pendingTemporary = temporary.c_str();
  struct Settled {
    ~Settled() { g_pendingTemporary = nullptr; }
  } settled;

  const bool written = WriteBlocks(file, count, args) && platform.FlushFileBuffers(file);
  // A failed close counts as closed, but what it should have stored is in doubt.
  const bool closed = platform.CloseHandle(file) != 0;
  if (written && closed && !(targetExists && TargetHeldElsewhere(path)) &&
      platform.MoveFileExA(temporary.c_str(), path,
                           os::kMoveReplaceExisting | os::kMoveWriteThrough)) {
    return true;
  }
  platform.DeleteFileA(temporary.c_str());
  return false;
}

}  // namespace

void RemovePendingTemporaryFile() {
  // Taken first, so that a failure on the way cannot try again.
  if (const char* temporary = g_pendingTemporary) {
    g_pendingTemporary = nullptr;
    os::Os().DeleteFileA(temporary);
  }
}

void WriteToFile(ArgRecord* result, int32_t count, const ArgRecord* args) {
  result->value = 0;
  if (count < 1) return;
  const auto* path = reinterpret_cast<const char*>(args[0].value);
  if (path == nullptr || path[0] == '\0') return;
  if (ReplaceTarget(path, count, args)) result->value = 1;
}

}  // namespace rt
