#include "rules/manifest_rule.h"

namespace rules {
namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool HoldsBackslash(std::string_view name) { return name.find('\\') != std::string_view::npos; }

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

bool IsDataFolder(std::string_view folderPath) { return folderPath.ends_with(kDataSuffix); }

std::string_view ManifestNameFor(std::string_view folderPath) {
  return IsDataFolder(folderPath) ? kModManifest : kZenterManifest;
}

bool IsDotEntry(std::string_view name) { return name == "." || name == ".."; }

bool EndsInXml(std::string_view name) {
  constexpr std::string_view kXml = ".XML";
  if (name.size() < kXml.size()) return false;
  const std::string_view end = name.substr(name.size() - kXml.size());
  for (size_t i = 0; i < kXml.size(); ++i) {
    if (UpperAscii(end[i]) != kXml[i]) return false;
  }
  return true;
}

bool IncludesFile(std::string_view name, std::string_view manifestName) {
  return EndsInXml(name) && !IsManifest(name, manifestName) && !HoldsBackslash(name);
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

}  // namespace rules
