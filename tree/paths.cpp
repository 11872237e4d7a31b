#include "tree/paths.h"

#include <cstdint>

#include "platform/path_parts.h"
#include "platform/upcase.h"
#include "platform/utf8.h"

namespace tree {
namespace {

// The unit a name's next character compares as, and how many bytes it
// takes. Below 0x110000 a code point (upper-cased when rule is Any and it is
// one UTF-16 unit); above, a byte that starts no valid sequence, which
// equals only itself.
uint32_t NextUnit(std::string_view s, size_t at, NameCase rule, size_t* length) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(s.data()) + at;
  const os::Utf8Sequence seq = os::ReadUtf8(bytes, s.size() - at, true);
  if (seq.length == 0) {
    *length = 1;
    return 0x110000u + bytes[0];
  }
  *length = seq.length;
  if (rule == NameCase::Any && seq.codePoint <= 0xFFFF) {
    return os::UpperCaseUnit(static_cast<char16_t>(seq.codePoint));
  }
  return seq.codePoint;
}

// <0, 0 or >0, comparing a and b unit by unit.
int Compare(std::string_view a, std::string_view b, NameCase rule) {
  if (rule == NameCase::Exact) return a.compare(b);
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    size_t la = 0, lb = 0;
    const uint32_t ua = NextUnit(a, i, rule, &la);
    const uint32_t ub = NextUnit(b, j, rule, &lb);
    if (ua != ub) return ua < ub ? -1 : 1;
    i += la;
    j += lb;
  }
  return (i < a.size()) - (j < b.size());
}

#ifdef _WIN32
constexpr char kShownSeparator = '\\';
#else
constexpr char kShownSeparator = '/';
#endif

}  // namespace

NameCase SystemNameCase() { return os::NamesAnyCase() ? NameCase::Any : NameCase::Exact; }

bool SameName(std::string_view a, std::string_view b, NameCase rule) {
  return Compare(a, b, rule) == 0;
}

bool NameBefore(std::string_view a, std::string_view b, NameCase rule) {
  return Compare(a, b, rule) < 0;
}

namespace below {

std::string Join(std::string_view folder, std::string_view name) {
  std::string joined;
  joined.reserve(folder.size() + 1 + name.size());
  joined.append(folder);
  if (!joined.empty()) joined.push_back('\\');
  joined.append(name);
  return joined;
}

std::string_view Parent(std::string_view folder) { return os::PathParent(folder); }

std::string_view Leaf(std::string_view folder) { return os::PathLastName(folder); }

std::vector<std::string_view> Names(std::string_view folder) {
  std::vector<std::string_view> names;
  while (!folder.empty()) {
    const size_t cut = folder.find('\\');
    names.push_back(folder.substr(0, cut));
    if (cut == std::string_view::npos) break;
    folder.remove_prefix(cut + 1);
  }
  return names;
}

bool Within(std::string_view folder, std::string_view base, NameCase rule) {
  if (base.empty()) return true;
  if (rule == NameCase::Exact) {
    return folder.starts_with(base) &&
           (folder.size() == base.size() || folder[base.size()] == '\\');
  }
  // In any case, equal names may take a different number of bytes: compare
  // name by name.
  const std::vector<std::string_view> inner = Names(folder), outer = Names(base);
  if (inner.size() < outer.size()) return false;
  for (size_t i = 0; i < outer.size(); ++i) {
    if (!SameName(inner[i], outer[i], rule)) return false;
  }
  return true;
}

bool Nameable(std::string_view name) { return name.find('\\') == std::string_view::npos; }

}  // namespace below

std::string Shown(const std::string& base, std::string_view name) {
  if (base.empty()) return std::string(name);
  std::string shown = base;
  if (shown.back() != kShownSeparator && shown.back() != '/' && shown.back() != '\\') {
    shown.push_back(kShownSeparator);
  }
  shown.append(name);
  return shown;
}

std::string Dotted(const std::string& shown) { return shown.empty() ? std::string(".") : shown; }

std::string ShownBelow(const std::string& shownRoot, std::string_view folder) {
  if (folder.empty()) return Dotted(shownRoot);
  std::string names(folder);
  for (char& c : names) {
    if (c == '\\') c = kShownSeparator;
  }
  return Shown(Dotted(shownRoot), names);
}

std::string ShownFullPath(std::string fullPath) {
  for (char& c : fullPath) {
    if (c == '\\') c = kShownSeparator;
  }
  return fullPath;
}

size_t FileSystemRootLength(std::string_view path) {
  auto afterComponents = [&path](size_t from, int count) {
    size_t at = from;
    for (int i = 0; i < count; ++i) {
      const size_t next = path.find('\\', at);
      if (next == std::string_view::npos) return path.size();
      at = i + 1 < count ? next + 1 : next;
    }
    return at;
  };
  auto isDrive = [&path](size_t at) {
    return path.size() >= at + 2 && path[at + 1] == ':' &&
           ((path[at] >= 'A' && path[at] <= 'Z') || (path[at] >= 'a' && path[at] <= 'z'));
  };
  if (path.starts_with("\\\\?\\UNC\\")) return afterComponents(8, 2);
  if (path.starts_with("\\\\?\\") || path.starts_with("\\\\.\\")) {
    // A drive, else a volume or device by its name.
    return isDrive(4) ? 6 + (path.size() > 6 && path[6] == '\\') : afterComponents(4, 1);
  }
  if (path.starts_with("\\\\")) return afterComponents(2, 2);
  if (isDrive(0)) return 2 + (path.size() > 2 && path[2] == '\\');
  return path.starts_with("\\") ? 1 : 0;
}

std::vector<std::string> FoldersAbove(std::string_view root) {
  while (root.size() > 1 && root.back() == '\\') root.remove_suffix(1);
  const size_t rootLength = FileSystemRootLength(root);
  std::vector<std::string> folders;
  if (rootLength == 0 || rootLength >= root.size()) return folders;  // ROOT is the top
  std::string top(root.substr(0, rootLength));
  if (top.back() != '\\') top.push_back('\\');
  folders.push_back(std::move(top));
  for (size_t at = root.find('\\', rootLength + 1); at != std::string_view::npos;
       at = root.find('\\', at + 1)) {
    folders.emplace_back(root.substr(0, at));
  }
  return folders;
}

}  // namespace tree
