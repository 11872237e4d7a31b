#include "tree/skip_rules.h"

#include "rules/manifest_rule.h"

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
  if (WhyHidden(name, attributes) != NotEntered::Entered) return true;
  bool excluded = false;
  return Matching(FoldName(name), &excluded) != nullptr;
}

NotEntered SkipRules::Why(std::string_view name, os::Dword attributes, std::string* pattern) const {
  if (const NotEntered why = WhyHidden(name, attributes); why != NotEntered::Entered) return why;
  bool excluded = false;
  const NamePattern* matching = Matching(FoldName(name), &excluded);
  if (matching == nullptr) return NotEntered::Entered;
  *pattern = matching->Text();
  return excluded ? NotEntered::Excluded : NotEntered::Ignored;
}

std::string SkipRules::Words(NotEntered why, const std::string& pattern) {
  switch (why) {
    case NotEntered::Entered: return "";
    case NotEntered::DotName: return "hidden: its name begins with \".\"";
    case NotEntered::HiddenAttribute: return "hidden: it has the hidden or system attribute";
    case NotEntered::Excluded: return "excluded by --exclude \"" + pattern + "\"";
    case NotEntered::Ignored: return "excluded by \"" + pattern + "\" in a .modmanifestignore";
    case NotEntered::HoldsBackslash: return std::string("left out: ") + rules::kHoldsBackslash;
    case NotEntered::Link: return "a link: included, never entered";
  }
  return "";
}

NotEntered SkipRules::WhyHidden(std::string_view name, os::Dword attributes) const {
  if (hidden_) return NotEntered::Entered;
  if (name.starts_with('.')) return NotEntered::DotName;
  if ((attributes & (os::kAttrHidden | os::kAttrSystem)) != 0) return NotEntered::HiddenAttribute;
  return NotEntered::Entered;
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
