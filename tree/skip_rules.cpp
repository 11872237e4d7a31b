#include "tree/skip_rules.h"

namespace tree {

SkipRules::Shared SkipRules::AtTop(const std::vector<std::string>& excludes,
                                   std::vector<NamePattern> above, bool hidden) {
  std::vector<NamePattern> patterns;
  patterns.reserve(excludes.size() + above.size());
  for (const std::string& pattern : excludes) patterns.emplace_back(pattern);
  for (NamePattern& pattern : above) patterns.push_back(std::move(pattern));
  return std::make_shared<const SkipRules>(nullptr, std::move(patterns), hidden);
}

SkipRules::Shared SkipRules::Beneath(const Shared& parent, std::vector<NamePattern> own) {
  // A folder without patterns of its own goes by its parent's.
  if (own.empty()) return parent;
  return std::make_shared<const SkipRules>(parent, std::move(own), parent->hidden_);
}

bool SkipRules::Skips(std::string_view name, os::Dword attributes) const {
  if (!hidden_ &&
      (name.starts_with('.') || (attributes & (os::kAttrHidden | os::kAttrSystem)) != 0)) {
    return true;
  }
  const FoldedName folded = FoldName(name);
  for (const SkipRules* rules = this; rules != nullptr; rules = rules->parent_.get()) {
    for (const NamePattern& pattern : rules->patterns_) {
      if (pattern.Matches(folded)) return true;
    }
  }
  return false;
}

}  // namespace tree
