#include "generator/manifest_rule.h"

namespace gen {
namespace {

// A name holding a backslash (possible only on POSIX file systems) would read
// as a path into another folder once it stands in the manifest.
bool HoldsBackslash(std::string_view name) { return name.find('\\') != std::string_view::npos; }

#ifdef _WIN32
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
#endif

bool IsManifest(std::string_view name, std::string_view manifestName) {
#ifdef _WIN32
  if (name.size() != manifestName.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (UpperAscii(name[i]) != UpperAscii(manifestName[i])) return false;
  }
  return true;
#else
  return name == manifestName;
#endif
}

}  // namespace

bool IsDataFolder(std::string_view folderPath) { return folderPath.ends_with(kDataSuffix); }

std::string_view ManifestNameFor(std::string_view folderPath) {
  return IsDataFolder(folderPath) ? kModManifest : kZenterManifest;
}

bool IsDotEntry(std::string_view name) { return name == "." || name == ".."; }

bool IncludesFile(std::string_view name, std::string_view manifestName) {
  return !IsManifest(name, manifestName) && !HoldsBackslash(name);
}

bool IncludesSubFolder(std::string_view name) {
  return !IsDotEntry(name) && !HoldsBackslash(name);
}

std::string SubFolderEntry(std::string_view name) {
  std::string entry;
  entry.reserve(name.size() + kSubFolderSuffix.size());
  entry.append(name).append(kSubFolderSuffix);
  return entry;
}

}  // namespace gen
