// Folder-name patterns (--exclude and .modmanifestignore lines), matched as
// Windows matches a name against a wildcard: '*' any run of characters, '?'
// exactly one character, everything else itself in any case. Both builds
// match alike: case is folded by the table the listing order uses
// (platform/upcase.h), a character is a code point, and a name is matched
// as the listing gives it (its long name; never a short 8.3 alias).
//
// A byte that starts no valid UTF-8 sequence counts as one character of its
// own: '?' and '*' take it, and only the same byte in a pattern matches it
// otherwise.
#pragma once

#include <string>
#include <string_view>

namespace tree {

// A name as the matcher compares it: one unit a character, case folded.
using FoldedName = std::u32string;
FoldedName FoldName(std::string_view name);

class NamePattern {
 public:
  explicit NamePattern(std::string_view pattern);

  bool Matches(std::string_view name) const { return Matches(FoldName(name)); }
  // Without recursion or allocation: at most name x pattern steps, so any
  // pattern, however long or starred, ends soon.
  bool Matches(const FoldedName& name) const;
  // The pattern as written, to tell a person which one matched.
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  FoldedName units_;  // folded characters, kAnyRun and kAnyOne
};

}  // namespace tree
