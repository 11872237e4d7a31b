// One folder as the whole-tree tool sees it: the entries of its manifest,
// by the same rule and the same two listings as the per-folder program, and
// the sub-folders the walk goes on into.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "tree/skip_rules.h"

namespace tree {

// path\name, with one separator even after a path that ends in one (a drive
// root).
std::string JoinPath(std::string_view path, std::string_view name);

struct FolderListing {
  std::vector<std::string> entries;     // the manifest's entries, in order
  std::vector<std::string> subFolders;  // names to visit: no links, none excluded
};

enum class ListResult {
  Listed,
  Vanished,  // the folder is gone (removed or renamed since its parent was listed)
  Failed,    // the folder is there but cannot be listed; see *error
};

// Lists folder for a manifest named manifestName. A sub-folder whose name
// matches one of the exclude patterns (Windows wildcards, case-insensitive,
// as the platform's listing matches them) is neither an entry nor visited.
ListResult ListFolder(const std::string& folder, std::string_view manifestName,
                      const std::vector<std::string>& excludes, FolderListing* listing,
                      os::Dword* error, const SkipRules* skip = nullptr);

}  // namespace tree
