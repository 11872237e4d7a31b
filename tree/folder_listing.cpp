#include "tree/folder_listing.h"

#include <iterator>

#include "rules/manifest_rule.h"
#include "tree/skip_rules.h"

namespace tree {
namespace {

bool IsDirectory(os::Dword attributes) { return (attributes & os::kAttrDirectory) != 0; }

// A file is an entry of the XML pass when its own name ends in ".xml".
void ReadFile(const os::ListedEntry& e, std::string_view manifestName,
              FolderListing* listing) {
  if (!rules::EndsInXml(e.name)) return;
  if (rules::HoldsBackslash(e.name)) {
    listing->leftOut.push_back({e.name, rules::kHoldsBackslash});
  } else if (!rules::IsManifest(e.name, manifestName)) {
    const char* why = listing->entries.AddFile(e.name);
    if (why != nullptr) listing->leftOut.push_back({e.name, why});
  }
}

// A sub-folder is an entry of the folder pass, and visited, unless the rules
// skip it. One whose name holds '\' is neither; one the document cannot
// carry is still visited.
void ReadSubFolder(const os::ListedEntry& e, const SkipRules& skip, FolderListing* listing,
                   std::vector<LeftOut>* leftOut) {
  if (rules::IsDotEntry(e.name)) return;
  // Each not entered with why, in words and as what happened.
  const auto notEntered = [&](NotEntered why, std::string pattern = {}) {
    listing->listed.push_back(
        {e.name, SkipRules::Words(why, pattern), why == NotEntered::Link, why, std::move(pattern)});
  };
  if (skip.Skips(e.name, e.attributes)) {
    std::string pattern;
    const NotEntered why = skip.Why(e.name, e.attributes, &pattern);
    notEntered(why, std::move(pattern));
    return;
  }
  if (rules::HoldsBackslash(e.name)) {
    leftOut->push_back({e.name, rules::kHoldsBackslash});
    notEntered(NotEntered::HoldsBackslash);
    return;
  }
  if (const char* why = listing->entries.AddSubFolder(e.name)) leftOut->push_back({e.name, why});
  // A link is listed as the per-folder program lists it, but never
  // entered: a loop ends, and nothing outside the tree is written.
  if ((e.attributes & os::kAttrLink) == 0) {
    listing->subFolders.push_back({e.name, e.attributes, e.fileId});
    listing->listed.push_back({e.name, ""});
  } else {
    notEntered(NotEntered::Link);
  }
}

}  // namespace

void ReadListing(const std::vector<os::ListedEntry>& listed, std::string_view manifestName,
                 const SkipRules& skip, FolderListing* listing) {
  listing->entries.Clear();
  listing->subFolders.clear();
  listing->leftOut.clear();
  listing->listed.clear();
  // One pass in listing order. The sub-folders left out are named after the
  // files, as their entries follow the files' in the manifest.
  std::vector<LeftOut> subFoldersLeftOut;
  for (const os::ListedEntry& e : listed) {
    if (IsDirectory(e.attributes)) {
      ReadSubFolder(e, skip, listing, &subFoldersLeftOut);
    } else {
      ReadFile(e, manifestName, listing);
    }
  }
  listing->leftOut.insert(listing->leftOut.end(), std::make_move_iterator(subFoldersLeftOut.begin()),
                          std::make_move_iterator(subFoldersLeftOut.end()));
}

std::string RenderManifest(const FolderListing& listing) {
  return rules::RenderManifestText(listing.entries);
}

}  // namespace tree
