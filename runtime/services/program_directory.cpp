#include "runtime/services/program_directory.h"

#include <cstring>
#include <vector>

#include "runtime/host/runtime_application.h"
#include "runtime/services/command.h"
#include "runtime/services/libraries.h"
#include "runtime/values/value_memory.h"

namespace rt {
namespace {

// No path the platform reports is longer than this (the longest Win32 path
// is 32767 UTF-16 units, at most three bytes each in a narrow code page).
constexpr os::Dword kLongestModulePath = 32768u * 4u;

}  // namespace

ModulePathParts SplitModulePath(std::string_view path, os::Dword codePage) {
  const os::Platform& platform = os::Os();
  size_t cut = std::string_view::npos;
  for (size_t i = 0; i < path.size();) {
    const auto byte = static_cast<uint8_t>(path[i]);
    if (byte == '\\') {
      cut = i;
      ++i;
    } else if (byte >= 0x80 && i + 1 < path.size() &&
               platform.IsDBCSLeadByteEx(codePage, byte)) {
      // A lead byte takes the next byte with it, even when that is 0x5C.
      i += 2;
    } else {
      ++i;
    }
  }
  ModulePathParts parts;
  if (cut == std::string_view::npos) {
    parts.fileName.assign(path);
  } else {
    parts.directory.assign(path.substr(0, cut));
    parts.fileName.assign(path.substr(cut + 1));
  }
  return parts;
}

void LoadProgramDirectory(RuntimeApplication& app) {
  const os::Platform& platform = os::Os();
  std::string path;
  // A result that fills the whole buffer means the path was cut short (the
  // platform truncates it, with or without a NUL): ask again with more room.
  for (os::Dword size = os::kMaxPath; size <= kLongestModulePath; size *= 2) {
    std::vector<char> buffer(size, '\0');
    const os::Dword length = platform.GetModuleFileNameA(nullptr, buffer.data(), size);
    if (length == 0) break;  // no path: the folder stays empty, and the run refuses
    if (length < size) {
      path.assign(buffer.data(), length);
      break;
    }
  }
  ModulePathParts parts = SplitModulePath(path, os::kCodePageAnsi);
  app.ProgramDirectory = std::move(parts.directory);
  app.ProgramFileName = std::move(parts.fileName);
}

void GetProgramDirectory(ArgRecord* result, int32_t, const ArgRecord*) {
  const auto* directory =
      reinterpret_cast<const char*>(CoreHostRequest(kRequestProgramDirectory, 0, 0));
  result->value = 0;
  if (directory == nullptr || directory[0] == '\0') return;
  const size_t length = std::strlen(directory);
  auto* copy = static_cast<char*>(AllocateBlock(static_cast<int32_t>(length + 1)));
  std::memcpy(copy, directory, length + 1);
  result->value = reinterpret_cast<uintptr_t>(copy);
}

}  // namespace rt
