// One folder's manifest brought up to date: the folder listed once, its
// listing sorted into the manifest's entries and the sub-folders to visit,
// the manifest on disk compared with the one the listing gives, and a new
// one staged (or, checking, the difference reported) when they differ.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/folder_access.h"
#include "tree/folder_listing.h"
#include "tree/walk_context.h"
#include "tree/skip_rules.h"

namespace tree {

// A folder as the walk knows it.
struct WalkFolder {
  std::string name;      // its own name; for ROOT, as the file system holds it
  std::string relative;  // below ROOT, '\' separators; "" for ROOT
  std::string shown;     // as the user sees it
  std::string shownManifest;
  std::string_view manifestName;
};

// The folder a walk enters: name, relative path and shown path below
// parent (or ROOT's own, with parent null).
WalkFolder MakeWalkFolder(const WalkFolder* parent, std::string name, std::string shownRoot = "");

class FolderUpdate {
 public:
  explicit FolderUpdate(WalkContext& run) : run_(run) {}

  // Lists the folder: 0, or the error.
  os::Dword List(const os::FolderHandle& folder) { return run_.access.List(folder, &listed_); }
  // The entries the folder listed last holds.
  const std::vector<os::ListedEntry>& Entries() const { return listed_; }
  // The name of the ignore file the folder listed last holds, as listed
  // (a file, not a folder, of that name); "" when it holds none.
  std::string_view IgnoreFile() const;
  // Removes, from the folder listed last, the temporary files that runs of
  // either program left when they were killed.
  void RemoveLeftovers(const os::FolderHandle& folder, const std::string& shown);

  // Brings the manifest of the folder listed last up to date by its rules;
  // parent: the folder above it in the run, null for ROOT. Returns the
  // sub-folders to visit.
  std::vector<SubFolder> Update(const WalkFolder& folder,
                                const std::shared_ptr<os::FolderHandle>& handle,
                                const SkipRules& rules, const WalkFolder* parent);

 private:
  void WarnOfListing(const WalkFolder& folder, const WalkFolder* parent);
  os::Dword ReadManifest(const os::FolderHandle& folder, std::string_view name, size_t limit);
  void ReportChanges(const WalkFolder& folder, bool missing, bool read, const std::string& wanted);

  WalkContext& run_;
  std::vector<os::ListedEntry> listed_;
  FolderListing listing_;
  std::string onDisk_;
};

}  // namespace tree
