#include "tree/manifest_diff.h"

#include <map>

namespace tree {
namespace {

std::vector<std::string_view> IncludeLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) continue;
    line.remove_prefix(start);
    if (line.starts_with("<Include ") || line.starts_with("<Include/")) lines.push_back(line);
  }
  return lines;
}

// The lines of from that the lines of other do not account for, repeats
// counted.
std::vector<std::string> Unmatched(const std::vector<std::string_view>& from,
                                   const std::vector<std::string_view>& other) {
  std::map<std::string_view, size_t> available;
  for (std::string_view line : other) ++available[line];
  std::vector<std::string> unmatched;
  for (std::string_view line : from) {
    auto it = available.find(line);
    if (it != available.end() && it->second > 0) {
      --it->second;
    } else {
      unmatched.emplace_back(line);
    }
  }
  return unmatched;
}

}  // namespace

IncludeChanges CompareIncludes(std::string_view onDisk, std::string_view wanted) {
  const std::vector<std::string_view> before = IncludeLines(onDisk);
  const std::vector<std::string_view> after = IncludeLines(wanted);
  IncludeChanges changes{Unmatched(after, before), Unmatched(before, after)};
  changes.reordered = changes.added.empty() && changes.removed.empty() && before != after;
  return changes;
}

}  // namespace tree
