#include "tree/skip_rules.h"

namespace tree {
namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows wildcards: '*' any run, '?' one byte; ASCII letters in any case.
// Backtracks only to the last '*', so it is linear in name x pattern.
bool Matches(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || UpperAscii(pattern[p]) == UpperAscii(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

SkipRules::SkipRules(std::vector<std::string> excludes, bool hidden)
    : excludes_(std::move(excludes)), hidden_(hidden) {}

bool SkipRules::LoadAbove(const std::string&, std::string*) { return true; }

bool SkipRules::Enter(const std::optional<std::string>&, const std::string&, std::string*) {
  levels_.emplace_back();
  return true;
}

void SkipRules::Leave() {
  if (!levels_.empty()) levels_.pop_back();
}

bool SkipRules::Skips(std::string_view name, os::Dword) const {
  for (const std::string& pattern : excludes_) {
    if (Matches(pattern, name)) return true;
  }
  for (const auto& level : levels_) {
    for (const std::string& pattern : level) {
      if (Matches(pattern, name)) return true;
    }
  }
  return false;
}

}  // namespace tree
