#include "tree/ignore_file.h"

#include <cstdint>

#include "platform/folder_access.h"
#include "platform/path_parts.h"
#include "platform/utf8.h"
#include "tree/paths.h"

namespace tree {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Whether the whole line is UTF-8 (no encoded surrogate: no valid name
// holds one).
bool IsUtf8(std::string_view line) {
  const auto* s = reinterpret_cast<const uint8_t*>(line.data());
  for (size_t i = 0; i < line.size();) {
    const os::Utf8Sequence seq = os::ReadUtf8(s + i, line.size() - i);
    if (seq.length == 0) return false;
    i += seq.length;
  }
  return true;
}

// Whether the line holds a control character (a tab stays: a Linux name may
// hold one).
bool HoldsControl(std::string_view line) {
  for (char c : line) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7F) return true;
  }
  return false;
}

}  // namespace

bool IsIgnoreFileName(std::string_view name) {
  return SameName(name, kIgnoreFileName, SystemNameCase());
}

bool ParseIgnoreFile(std::string_view bytes, const std::string& shownFile,
                     std::vector<NamePattern>* patterns, Failure* problem) {
  if (bytes.size() > kIgnoreFileLimit) {
    *problem = Failure(FailCode::IgnoreTooLarge, {shownFile, std::to_string(kIgnoreFileLimit >> 20)});
    return false;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  size_t lineNumber = 0;
  while (!bytes.empty()) {
    // A line ends in LF, CR LF, or CR alone (as old Mac editors save).
    const size_t end = bytes.find_first_of("\r\n");
    std::string_view line = bytes.substr(0, end);
    size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
    if (end != std::string_view::npos && bytes[end] == '\r' && next < bytes.size() &&
        bytes[next] == '\n') {
      ++next;
    }
    bytes.remove_prefix(next);
    ++lineNumber;
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;

    // A line not UTF-8 or holding a control character is never shown.
    std::vector<std::string> where{shownFile, std::to_string(lineNumber)};
    if (!IsUtf8(line)) {
      *problem = Failure(FailCode::IgnoreNotUtf8, std::move(where));
      return false;
    }
    if (HoldsControl(line)) {
      *problem = Failure(FailCode::IgnoreControl, std::move(where));
      return false;
    }
    if (line.find_first_of("/\\") != std::string_view::npos) {
      where.emplace_back(line);
      *problem = Failure(FailCode::IgnorePath, std::move(where));
      return false;
    }
    patterns->emplace_back(line);
  }
  return true;
}

bool LoadIgnoreFilesAbove(const std::string& rootFullPath, std::vector<NamePattern>* patterns,
                          Failure* problem) {
  patterns->clear();
  for (const std::string& folder : FoldersAbove(rootFullPath)) {
    const std::string path = os::JoinPath(folder, kIgnoreFileName);
    std::string bytes;
    const os::Dword error = os::ReadFileStart(path, kIgnoreFileLimit + 1, &bytes);
    // A folder of that name is no ignore file, as in the walk.
    if (error == os::kErrorFileNotFound || error == os::kErrorPathNotFound ||
        error == os::kErrorIsFolder) {
      continue;
    }
    if (error != 0) {
      // Patterns that cannot be read might have excluded any folder.
      *problem = Failure(FailCode::CannotRead, {ShownFullPath(path)}, error);
      patterns->clear();
      return false;
    }
    if (!ParseIgnoreFile(bytes, ShownFullPath(path), patterns, problem)) {
      patterns->clear();
      return false;
    }
  }
  return true;
}

}  // namespace tree
