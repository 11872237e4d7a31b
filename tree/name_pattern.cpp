#include "tree/name_pattern.h"

#include <cstdint>

#include "platform/upcase.h"
#include "platform/utf8.h"

namespace tree {
namespace {

// Values no character folds to: above U+10FFFF and above every stray byte.
constexpr char32_t kAnyRun = 0xFFFFFFFF;
constexpr char32_t kAnyOne = 0xFFFFFFFE;
// A byte that starts no valid sequence stands as kStrayByte + byte.
constexpr char32_t kStrayByte = 0x110000;

// Calls take(c) for each folded character of text; wild(byte) decides
// whether an ASCII byte is a wildcard instead (then take gets its value).
template <typename Take, typename Wild>
void EachFolded(std::string_view text, Take take, Wild wild) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t i = 0; i < text.size();) {
    // An encoded surrogate is one character: a Windows listing reports a
    // name's unpaired surrogate that way.
    const os::Utf8Sequence seq = os::ReadUtf8(s + i, text.size() - i, true);
    if (seq.length == 0) {
      take(kStrayByte + s[i]);
      ++i;
      continue;
    }
    i += seq.length;
    if (char32_t w = wild(seq.codePoint)) {
      take(w);
    } else if (seq.codePoint <= 0xFFFF) {
      take(static_cast<char32_t>(os::UpperCaseUnit(static_cast<char16_t>(seq.codePoint))));
    } else {
      // Windows' table maps no surrogate unit: such characters match only
      // themselves.
      take(static_cast<char32_t>(seq.codePoint));
    }
  }
}

}  // namespace

FoldedName FoldName(std::string_view name) {
  FoldedName folded;
  folded.reserve(name.size());
  EachFolded(
      name, [&](char32_t c) { folded.push_back(c); }, [](uint32_t) { return char32_t{0}; });
  return folded;
}

NamePattern::NamePattern(std::string_view pattern) : text_(pattern) {
  units_.reserve(pattern.size());
  EachFolded(
      pattern,
      [&](char32_t c) {
        // A run of stars is one star.
        if (c == kAnyRun && !units_.empty() && units_.back() == kAnyRun) return;
        units_.push_back(c);
      },
      [](uint32_t c) {
        if (c == '*') return kAnyRun;
        return c == '?' ? kAnyOne : char32_t{0};
      });
}

bool NamePattern::Matches(const FoldedName& name) const {
  // Greedy, going back only to just after the last star seen: what an
  // earlier star took never needs to change.
  const size_t none = FoldedName::npos;
  size_t p = 0, n = 0, star = none, resume = 0;
  while (n < name.size()) {
    if (p < units_.size() && units_[p] == kAnyRun) {
      star = p++;
      resume = n;
    } else if (p < units_.size() && (units_[p] == kAnyOne || units_[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != none) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < units_.size() && units_[p] == kAnyRun) ++p;
  return p == units_.size();
}

}  // namespace tree
