// What the walk skips, decided in one place: the --exclude patterns, the
// .modmanifestignore files of the folder and of every folder above it (one
// level of patterns a folder, pushed as the walk enters it and popped as it
// leaves), and hidden folders unless --hidden. A skipped folder is neither
// visited nor included by its parent's manifest.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "tree/name_pattern.h"

namespace tree {

// The name of the file that holds a folder's own patterns.
inline constexpr std::string_view kIgnoreFileName = ".modmanifestignore";
// The largest ignore file taken. A longer one is a mistake (a log or a
// binary under that name) and fails its folder; read at most one byte more
// (os::tree::ReadFileStart) to tell.
inline constexpr size_t kIgnoreFileLimit = 1 << 20;

class SkipRules {
 public:
  // excludes: --exclude patterns, in force everywhere; hidden: --hidden.
  SkipRules(std::vector<std::string> excludes, bool hidden);

  // Takes the patterns of the ignore files in the folders above ROOT
  // (rootFullPath: ROOT's full path, '\' separators), outermost first. False,
  // with *problem set ("FILE, line N: ..."), when one of them holds a bad
  // line: ROOT then counts as failed and nothing is visited.
  bool LoadAbove(const std::string& rootFullPath, std::string* problem);

  // The walk enters a folder: ignoreFile holds the bytes of its
  // .modmanifestignore, if it has one, and shownIgnoreFile that file's path
  // as the user sees it. Every call that returns true is matched by one
  // Leave. False, with *problem set, when the file holds a bad line: nothing
  // is pushed, the folder counts as failed and its sub-tree is not visited.
  bool Enter(const std::optional<std::string>& ignoreFile, const std::string& shownIgnoreFile,
             std::string* problem);
  void Leave();

  // Whether a sub-folder of the folder entered last is skipped. attributes:
  // the Win32 attribute bits its listing gave (hidden, system).
  bool Skips(std::string_view name, os::Dword attributes) const;

 private:
  std::vector<NamePattern> excludes_;
  bool hidden_;
  // The patterns of the ignore files above ROOT, by LoadAbove.
  std::vector<NamePattern> above_;
  // Each level's patterns; levels_[i] came from the i-th folder entered.
  std::vector<std::vector<NamePattern>> levels_;
};

}  // namespace tree
