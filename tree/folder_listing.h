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
#include "rules/manifest_document.h"
#include "tree/reporter.h"

namespace tree {

class SkipRules;

struct SubFolder {
  std::string name;
  os::Dword attributes;
  uint64_t fileId;  // as the listing gave it
};

// A file or folder the manifest cannot carry.
struct LeftOut {
  std::string name;
  const char* reason;  // why, as the entries or the rule said it
};

struct FolderListing {
  rules::PreparedEntries entries;     // the manifest's entries, each rendered once
  std::vector<SubFolder> subFolders;  // to visit: no links, none skipped
  std::vector<LeftOut> leftOut;       // names an entry would have, left out: files first
  std::vector<ListedFolder> listed;   // every sub-folder, and why one is not visited
};

// Sorts the listing of a folder whose manifest is manifestName, looking at
// each name once, into its manifest's entries (rendered as they are found),
// the sub-folders to visit and the names left out. A sub-folder skip skips
// is none of these.
void ReadListing(const std::vector<os::ListedEntry>& listed, std::string_view manifestName,
                 const SkipRules& skip, FolderListing* listing);

// The bytes of the folder's manifest, put together from its entries as
// ReadListing rendered them.
std::string RenderManifest(const FolderListing& listing);

}  // namespace tree
