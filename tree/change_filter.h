// Which of the file system's changes matter to the manifests, and what they
// mean: a folder's own manifest to redo, a sub-tree to redo (a folder
// created or moved in, an ignore file edited), or the whole tree (changes
// were lost). One set of rules for every system; where systems report
// differently, the rules read the traits the change source declares. A
// burst of changes is gathered into one batch by a quiet period.
//
// Folders are named relative to ROOT, names joined by '\' ("" is ROOT).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/change_source.h"

namespace tree {

// How long after the last change a batch is handed out, and the longest a
// stream of changes can hold one back.
constexpr unsigned kQuietMilliseconds = 150;
constexpr unsigned kLongestGatherMilliseconds = 3000;

// Why the watch cannot go on once ROOT itself is gone from its path, as the
// watch says it.
constexpr std::string_view kRootRemoved = "the folder was removed";
constexpr std::string_view kRootMoved = "the folder was moved or renamed";

// Whether folder is base or lies beneath it.
bool Within(std::string_view folder, std::string_view base, bool anyCase = false);
// folder\name, or name when folder is ROOT ("").
std::string ChildFolder(std::string_view folder, std::string_view name);

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

// What one quiet period gathered.
struct ChangeBatch {
  bool rescanAll = false;  // changes were lost: redo the whole tree
  std::vector<FolderChange> changes;  // sorted; none lies beneath another's sub-tree
};

// The quiet period that gathers a burst of changes into one batch.
class Gathering {
 public:
  // A change that makes or adds to the batch.
  void Noted();
  // While a batch is pending: the milliseconds until it is due (0: now).
  // The gathering begins with the first call or change.
  unsigned MillisecondsLeft();

 private:
  double first_ = 0;
  double last_ = 0;
};

class ChangeFilter {
 public:
  // What one raw change did.
  enum class Outcome {
    Nothing,      // no manifest can change by it
    Relevant,     // a change was added to the batch
    RootRemoved,  // ROOT itself was removed: the watch cannot go on
    RootMoved,    // ROOT itself was renamed or moved
  };
  using Unwatch = std::function<void(const std::string& folder)>;

  // unwatch: called for a folder no longer watched, with its sub-tree.
  ChangeFilter(const os::ChangeTraits& traits, Unwatch unwatch);

  // A folder the walk visits is watched; identity: the folder's, as the
  // folder access tells it. Whether it is new to the watch.
  bool Watching(const std::string& folder, uint64_t identity = 0);
  bool Knows(const std::string& folder) const;
  // The identity the folder was watched with (another folder is at its
  // path now, a file system mounted there, say, when it differs); 0 when
  // it is not watched.
  uint64_t IdentityOf(const std::string& folder) const;
  // Forgets the folder and everything beneath it.
  void Forget(const std::string& folder);
  // The folders watched at or beneath folder.
  std::vector<std::string> Watched(const std::string& folder) const;

  Outcome Take(const os::RawChange& change);
  // Adds a change the watch found itself (a folder first watched since the
  // last batch, which may have changed before its watch began; what a
  // tick found).
  void Add(FolderChange change) { AddChange(&pending_, std::move(change)); }

  // What the watch does every so often besides waiting: look at ROOT, and
  // poll what notifications cannot follow. It adds what it finds by Add;
  // false, with *problem set, when the watch cannot go on.
  struct Tick {
    double seconds;
    std::function<bool(std::string* problem)> run;
  };

  // Waits, using no CPU but for the ticks, until changes arrive from source
  // (or a tick finds some) and have been quiet for the quiet period, then
  // hands them out as one batch (all of the tree instead when changes were
  // lost). Interrupted, or Failed with *problem set when the watch cannot go
  // on (the source broke, ROOT went).
  os::ChangeWait NextBatch(os::ChangeSource& source, ChangeBatch* batch, std::string* problem,
                           const Tick* tick = nullptr);

 private:
  struct NameLess {
    bool anyCase;
    bool operator()(const std::string& a, const std::string& b) const;
  };

  bool SameName(std::string_view a, std::string_view b) const;
  bool IsManifestName(std::string_view name) const;
  bool IsOwnTemporary(const os::RawChange& change, bool folder);
  Outcome TakeFolderItself(const os::RawChange& change);
  bool Pending() const { return rescan_ || !pending_.empty(); }
  bool TakeAll(os::ChangeSource& source, const std::vector<os::RawChange>& changes,
               bool* relevant, std::string* problem);
  void HandOut(ChangeBatch* batch);

  os::ChangeTraits traits_;
  Unwatch unwatch_;
  std::map<std::string, uint64_t, NameLess> watched_;  // with its identity
  std::vector<FolderChange> pending_;
  bool rescan_ = false;
  bool startOver_ = false;
  std::set<uint32_t> ownRenames_;  // renames away from a temporary name, this batch
};

}  // namespace tree
