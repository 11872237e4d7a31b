#include "tree/folder_listing.h"

#include <iterator>

#include "generator/manifest_rule.h"
#include "tree/skip_rules.h"

namespace tree {
namespace {

constexpr const char* kHoldsBackslash = "its name holds \\";

bool IsDirectory(os::Dword attributes) { return (attributes & os::kAttrDirectory) != 0; }

// Why the document cannot carry a name that holds no '\'.
const char* WhyNotCarried(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      return "its name holds control characters";
    }
  }
  return "its name is not valid UTF-8";
}

// A file is an entry of the XML pass when its own name ends in ".xml".
void ReadFile(const os::ListedEntry& e, std::string_view manifestName,
              FolderListing* listing) {
  if (!gen::EndsInXml(e.name)) return;
  if (gen::HoldsBackslash(e.name)) {
    listing->leftOut.push_back({e.name, kHoldsBackslash});
  } else if (!gen::IsManifest(e.name, manifestName) && !listing->entries.AddFile(e.name)) {
    listing->leftOut.push_back({e.name, WhyNotCarried(e.name)});
  }
}

// A sub-folder is an entry of the folder pass, and visited, unless the rules
// skip it. One whose name holds '\' is neither; one the document cannot
// carry is still visited.
void ReadSubFolder(const os::ListedEntry& e, const SkipRules& rules, FolderListing* listing,
                   std::vector<LeftOut>* leftOut) {
  if (gen::IsDotEntry(e.name)) return;
  if (rules.Skips(e.name, e.attributes)) {
    listing->listed.push_back({e.name, rules.Why(e.name, e.attributes)});
    return;
  }
  if (gen::HoldsBackslash(e.name)) {
    leftOut->push_back({e.name, kHoldsBackslash});
    listing->listed.push_back({e.name, std::string("left out: ") + kHoldsBackslash});
    return;
  }
  if (!listing->entries.AddSubFolder(e.name)) leftOut->push_back({e.name, WhyNotCarried(e.name)});
  // A link is listed as the per-folder program lists it, but never
  // entered: a loop ends, and nothing outside the tree is written.
  if ((e.attributes & os::kAttrLink) == 0) {
    listing->subFolders.push_back({e.name, e.attributes});
    listing->listed.push_back({e.name, ""});
  } else {
    listing->listed.push_back({e.name, "a link: included, never entered", true});
  }
}

}  // namespace

void ReadListing(const std::vector<os::ListedEntry>& listed, std::string_view manifestName,
                 const SkipRules& rules, FolderListing* listing) {
  listing->entries.Clear();
  listing->subFolders.clear();
  listing->leftOut.clear();
  listing->listed.clear();
  // One pass in listing order. The sub-folders left out are named after the
  // files, as their entries follow the files' in the manifest.
  std::vector<LeftOut> subFoldersLeftOut;
  for (const os::ListedEntry& e : listed) {
    if (IsDirectory(e.attributes)) {
      ReadSubFolder(e, rules, listing, &subFoldersLeftOut);
    } else {
      ReadFile(e, manifestName, listing);
    }
  }
  listing->leftOut.insert(listing->leftOut.end(), std::make_move_iterator(subFoldersLeftOut.begin()),
                          std::make_move_iterator(subFoldersLeftOut.end()));
}

std::string RenderManifest(const FolderListing& listing) {
  return gen::RenderManifestText(listing.entries);
}

}  // namespace tree
