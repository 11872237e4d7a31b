#include "tree/folder_listing.h"

#include "generator/manifest_document.h"
#include "generator/manifest_rule.h"
#include "tree/skip_rules.h"

namespace tree {
namespace {

bool IsDirectory(os::Dword attributes) { return (attributes & os::kAttrDirectory) != 0; }

// Why the manifest leaves out an entry, or null when it carries it.
const char* WhyLeftOut(std::string_view name, std::string_view entry) {
  if (name.find('\\') != std::string_view::npos) return "its name holds \\";
  std::string rendered;
  if (gen::RenderManifestEntry(entry, &rendered)) return nullptr;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      return "its name holds control characters";
    }
  }
  return "its name is not valid UTF-8";
}

}  // namespace

std::string JoinPath(std::string_view path, std::string_view name) {
  std::string joined;
  joined.reserve(path.size() + 1 + name.size());
  joined.append(path);
  if (joined.empty() || joined.back() != '\\') joined.push_back('\\');
  joined.append(name);
  return joined;
}

void ReadListing(const std::vector<os::ListedEntry>& listed, std::string_view manifestName,
                 const SkipRules& rules, FolderListing* listing) {
  listing->entries.clear();
  listing->subFolders.clear();
  listing->leftOut.clear();
  listing->listed.clear();
  // Both passes from the one listing, in its order: the XML files first.
  for (const os::ListedEntry& e : listed) {
    if (IsDirectory(e.attributes) || !gen::EndsInXml(e.name)) continue;
    if (const char* why = WhyLeftOut(e.name, e.name)) {
      listing->leftOut.push_back({e.name, why});
    } else if (gen::IncludesFile(e.name, manifestName)) {
      listing->entries.push_back(e.name);
    }
  }
  for (const os::ListedEntry& e : listed) {
    if (!IsDirectory(e.attributes) || gen::IsDotEntry(e.name)) continue;
    if (rules.Skips(e.name, e.attributes)) {
      listing->listed.push_back({e.name, rules.Why(e.name, e.attributes)});
      continue;
    }
    if (!gen::IncludesSubFolder(e.name)) {  // a name holding '\'
      listing->leftOut.push_back({e.name, WhyLeftOut(e.name, e.name)});
      listing->listed.push_back({e.name, std::string("left out: ") + WhyLeftOut(e.name, e.name)});
      continue;
    }
    std::string entry = gen::SubFolderEntry(e.name);
    if (const char* why = WhyLeftOut(e.name, entry)) {
      listing->leftOut.push_back({e.name, why});
    } else {
      listing->entries.push_back(std::move(entry));
    }
    // A link is listed as the per-folder program lists it, but never
    // entered: a loop ends, and nothing outside the tree is written.
    if ((e.attributes & os::kAttrLink) == 0) {
      listing->subFolders.push_back({e.name, e.attributes});
      listing->listed.push_back({e.name, ""});
    } else {
      listing->listed.push_back({e.name, "a link: included, never entered", true});
    }
  }
}

}  // namespace tree
