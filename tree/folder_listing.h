// One folder as the whole-tree tool sees it: the entries of its manifest, by
// the per-folder program's rule, taken from one listing of the folder (the
// XML files, then the sub-folders), the sub-folders the walk goes on into,
// and the names the manifest leaves out, with why.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/folder_access.h"
#include "tree/reporter.h"

namespace tree {

class SkipRules;

// path\name, with one separator even after a path that ends in one (a drive
// root).
std::string JoinPath(std::string_view path, std::string_view name);

struct SubFolder {
  std::string name;
  os::Dword attributes;
};

// A file or folder the manifest cannot carry.
struct LeftOut {
  std::string name;
  const char* reason;  // "its name holds \\", ...
};

struct FolderListing {
  std::vector<std::string> entries;   // the manifest's entries, in order
  std::vector<SubFolder> subFolders;  // to visit: no links, none skipped
  std::vector<LeftOut> leftOut;       // names an entry would have, left out
  std::vector<ListedFolder> listed;   // every sub-folder, and why one is not visited
};

// Sorts the listing of a folder whose manifest is manifestName into its
// manifest's entries and the sub-folders to visit. A sub-folder the rules
// skip is neither.
void ReadListing(const std::vector<os::ListedEntry>& listed, std::string_view manifestName,
                 const SkipRules& rules, FolderListing* listing);

}  // namespace tree
