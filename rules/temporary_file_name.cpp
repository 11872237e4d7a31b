#include "rules/temporary_file_name.h"

#include <cstdio>

namespace rules {
namespace {

constexpr std::string_view kPrefix = "~mm";
constexpr std::string_view kTreeMark = "t";
constexpr std::string_view kSuffix = ".tmp";
// A process id is a 32-bit number.
constexpr size_t kMostIdDigits = 8;

bool IsLowerHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string TemporaryFileName(TemporaryFileWriter writer, os::Dword processId, unsigned long n) {
  char name[48];
  std::snprintf(name, sizeof name, "~mm%s%lx-%lu.tmp",
                writer == TemporaryFileWriter::TreeTool ? "t" : "",
                static_cast<unsigned long>(processId), n);
  return name;
}

std::optional<TemporaryFileOrigin> ParseTemporaryFileName(std::string_view name) {
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return std::nullopt;
  name.remove_prefix(kPrefix.size());
  name.remove_suffix(kSuffix.size());
  TemporaryFileWriter writer = TemporaryFileWriter::PerFolderProgram;
  if (name.starts_with(kTreeMark)) {
    writer = TemporaryFileWriter::TreeTool;
    name.remove_prefix(kTreeMark.size());
  }
  const size_t dash = name.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash > kMostIdDigits ||
      dash + 1 == name.size() || (name[0] == '0' && dash > 1)) {
    return std::nullopt;
  }
  os::Dword processId = 0;
  for (size_t i = 0; i < dash; ++i) {
    const char c = name[i];
    if (!IsLowerHexDigit(c)) return std::nullopt;
    processId = processId * 16 + static_cast<os::Dword>(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  for (size_t i = dash + 1; i < name.size(); ++i) {
    if (!IsDigit(name[i])) return std::nullopt;
  }
  return TemporaryFileOrigin{writer, processId};
}

bool IsTemporaryFileName(std::string_view name) { return ParseTemporaryFileName(name).has_value(); }

}  // namespace rules
