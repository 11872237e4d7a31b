#include "tree/skip_rules.h"

namespace tree {

SkipRules::Shared SkipRules::AtTop(const std::vector<std::string>& excludes,
                                   std::vector<NamePattern> above, bool hidden) {
  std::vector<NamePattern> patterns;
  patterns.reserve(excludes.size() + above.size());
  for (const std::string& pattern : excludes) patterns.emplace_back(pattern);
  for (NamePattern& pattern : above) patterns.push_back(std::move(pattern));
  return std::make_shared<const SkipRules>(nullptr, std::move(patterns), hidden, excludes.size());
}

SkipRules::Shared SkipRules::Beneath(const Shared& parent, std::vector<NamePattern> own) {
  // A folder without patterns of its own goes by its parent's.
  if (own.empty()) return parent;
  return std::make_shared<const SkipRules>(parent, std::move(own), parent->hidden_);
}

bool SkipRules::Skips(std::string_view name, os::Dword attributes) const {
  if (WhyHidden(name, attributes) != nullptr) return true;
  bool excluded = false;
  return Matching(FoldName(name), &excluded) != nullptr;
}

std::string SkipRules::Why(std::string_view name, os::Dword attributes) const {
  if (const char* why = WhyHidden(name, attributes)) return why;
  bool excluded = false;
  const NamePattern* pattern = Matching(FoldName(name), &excluded);
  if (pattern == nullptr) return "";
  return excluded ? "excluded by --exclude \"" + pattern->Text() + "\""
                  : "excluded by \"" + pattern->Text() + "\" in a .modmanifestignore";
}

const char* SkipRules::WhyHidden(std::string_view name, os::Dword attributes) const {
  if (hidden_) return nullptr;
  if (name.starts_with('.')) return "hidden: its name begins with \".\"";
  if ((attributes & (os::kAttrHidden | os::kAttrSystem)) != 0) {
    return "hidden: it has the hidden or system attribute";
  }
  return nullptr;
}

const NamePattern* SkipRules::Matching(const FoldedName& folded, bool* excluded) const {
  for (const SkipRules* rules = this; rules != nullptr; rules = rules->parent_.get()) {
    for (size_t i = 0; i < rules->patterns_.size(); ++i) {
      if (rules->patterns_[i].Matches(folded)) {
        *excluded = i < rules->excludes_;
        return &rules->patterns_[i];
      }
    }
  }
  return nullptr;
}

}  // namespace tree
