// Which of the file system's changes matter to the manifests, and what they
// mean: a folder's own manifest to redo, a sub-tree to redo (a folder
// created or moved in, an ignore file edited), the whole tree (changes were
// lost), or the end of the watch (ROOT itself removed or moved). One set of
// rules for every system, and for what the poller finds; where systems
// report differently, the rules read the traits the change source
// declares. The filter only decides: it neither waits nor keeps time, and
// changes nothing but its own note of renames half seen.
//
// Folders are named relative to ROOT, names joined by '\' ("" is ROOT).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/change_source.h"
#include "tree/paths.h"

namespace tree {

class WatchRegistry;

// Why the watch cannot go on once ROOT itself is gone from its path, as the
// watch says it.
constexpr std::string_view kRootRemoved = "the folder was removed";
constexpr std::string_view kRootMoved = "the folder was moved or renamed";
constexpr std::string_view kRootUnmounted = "the folder was unmounted";

// A folder whose manifest may have changed; with subTree, every folder
// beneath it too.
struct FolderChange {
  std::string folder;
  bool subTree = false;

  bool operator==(const FolderChange&) const = default;
};

// Adds a change to a sorted set kept without overlap: a folder already
// covered by a sub-tree change is not added again, and a sub-tree change
// takes the place of those beneath it.
void AddChange(std::vector<FolderChange>* changes, FolderChange change);

// The folders to bring up to date at once.
struct ChangeBatch {
  bool rescanAll = false;  // changes were lost: redo the whole tree
  std::vector<FolderChange> changes;  // sorted; none lies beneath another's sub-tree

  bool Empty() const { return !rescanAll && changes.empty(); }
};

// What one raw change means.
struct ChangeMeaning {
  enum class Outcome {
    Nothing,      // no manifest can change by it
    Relevant,     // folders to redo (or the whole tree)
    RootRemoved,  // ROOT itself was removed: the watch cannot go on
    RootMoved,    // ROOT itself was renamed or moved
    RootUnmounted,  // ROOT's file system was unmounted
  };
  Outcome outcome = Outcome::Nothing;
  std::vector<FolderChange> redo;
  bool rescanAll = false;  // anything may have changed: redo the whole tree
  // The source names what lies beneath a renamed folder by stale names: it
  // must start over (and the whole tree be looked at again).
  bool startOver = false;
  std::vector<std::string> forget;  // no longer watched, each with its sub-tree
};

class ChangeFilter {
 public:
  // watched: the folders the walk visits, which alone have manifests of
  // ours.
  ChangeFilter(const os::ChangeTraits& traits, const WatchRegistry& watched)
      : traits_(traits), rule_(traits.namesAnyCase ? NameCase::Any : NameCase::Exact),
        watched_(watched) {}

  ChangeMeaning Take(const os::RawChange& change);

  // A batch was handed out: a rename's two halves arrive together, so a
  // half still unpaired was a temporary file moved out of the tree.
  void BatchOver() { ownRenames_.clear(); }

 private:
  bool Knows(const std::string& folder) const;
  bool IsManifestName(std::string_view name) const;
  bool IsOwnTemporary(const os::RawChange& change, bool folder);
  ChangeMeaning TakeFolderItself(const os::RawChange& change) const;
  ChangeMeaning TakeName(const os::RawChange& change, const std::string& path, bool folder) const;

  os::ChangeTraits traits_;
  NameCase rule_;
  const WatchRegistry& watched_;
  std::set<uint32_t> ownRenames_;  // renames away from a temporary name, this batch
};

}  // namespace tree
