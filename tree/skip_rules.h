// What the walk skips, decided in one place: the --exclude patterns, the
// patterns of the .modmanifestignore files of the folder and of every folder
// above it, and hidden folders unless --hidden. Each folder the walk enters
// has its own rules, made of its parent's and its own ignore file's
// patterns, so they come and go with the folder. A skipped folder is neither
// visited nor included by its parent's manifest.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "tree/name_pattern.h"
#include "tree/reporter.h"

namespace tree {

class SkipRules {
 public:
  using Shared = std::shared_ptr<const SkipRules>;

  // The rules at the top: the --exclude patterns and those of the ignore
  // files above ROOT; hidden: --hidden.
  static Shared AtTop(const std::vector<std::string>& excludes, std::vector<NamePattern> above,
                      bool hidden);
  // A folder's rules: its parent's, and the patterns of its own ignore file.
  static Shared Beneath(const Shared& parent, std::vector<NamePattern> own);

  // Whether a sub-folder of the folder these rules belong to is skipped.
  // attributes: the Win32 attribute bits its listing gave (hidden, system).
  bool Skips(std::string_view name, os::Dword attributes) const;
  // Why a sub-folder is skipped (Entered when it is not), and the pattern
  // that matched for Excluded and Ignored.
  NotEntered Why(std::string_view name, os::Dword attributes, std::string* pattern) const;
  // The same as a person reads it ("" when it is not skipped).
  static std::string Words(NotEntered why, const std::string& pattern);

  // excludes: how many of the patterns, the first ones, came from --exclude.
  SkipRules(Shared parent, std::vector<NamePattern> patterns, bool hidden, size_t excludes = 0)
      : parent_(std::move(parent)),
        patterns_(std::move(patterns)),
        hidden_(hidden),
        excludes_(excludes) {}

 private:
  NotEntered WhyHidden(std::string_view name, os::Dword attributes) const;
  // The first pattern that matches, and whether it came from --exclude.
  const NamePattern* Matching(const FoldedName& folded, bool* excluded) const;

  Shared parent_;
  std::vector<NamePattern> patterns_;
  bool hidden_;
  size_t excludes_;
};

}  // namespace tree
