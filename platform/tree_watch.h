// What the whole-tree tool's --watch needs from the operating system: the
// file system's change events of a tree, turned into the folders whose
// manifest may have changed. Linux: inotify, one watch per folder the walk
// visits; Windows: ReadDirectoryChangesW on ROOT with its sub-tree.
//
// Folders are named relative to ROOT with '\' separators ("" is ROOT).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace os::tree {

// A folder whose manifest may have changed; with subTree, every folder
// beneath it too (a folder created or moved in, an ignore file edited).
struct FolderChange {
  std::string folder;
  bool subTree = false;

  bool operator==(const FolderChange&) const = default;
};

// What one quiet period gathered.
struct WatchBatch {
  bool rescanAll = false;  // events were lost (a queue overflow): redo the whole tree
  std::vector<FolderChange> changes;  // sorted; none lies beneath another's sub-tree
};

enum class WatchWait {
  Changes,      // *batch holds what changed
  Interrupted,  // Ctrl-C, SIGTERM, SIGHUP or the console closing
  Failed,       // the watch itself broke (ROOT removed, say); see *problem
};

// How long after the last event a batch is handed out, and the longest a
// stream of events can hold one back.
constexpr unsigned kQuietMilliseconds = 150;
constexpr unsigned kLongestGatherMilliseconds = 3000;

class TreeWatch {
 public:
  virtual ~TreeWatch() = default;

  // Starts watching a folder the walk visits (Windows: ROOT's watch covers it
  // already). A folder that is gone or no longer a folder is not an error:
  // its parent's events tell of it. False, with *problem set, when the
  // folder cannot be watched; *limit then tells whether the system's limit
  // of watches was reached, which the tool cannot work around.
  virtual bool Add(const std::string& folder, std::string* problem, bool* limit) = 0;

  // Stops watching folder and everything beneath it (it was removed or
  // moved away).
  virtual void Forget(const std::string& folder) = 0;

  // The folders watched at or beneath folder (Windows: those the walk
  // visited), so that those a sub-tree's update no longer visits (now
  // skipped, say) can be forgotten.
  virtual std::vector<std::string> Watched(const std::string& folder) const = 0;

  // Blocks, using no CPU, until a change arrives and the events have been
  // quiet for kQuietMilliseconds (or the interrupt). Events about the tools'
  // own temporary files (~mm*.tmp), and the renames that put them in place,
  // never make a change. A folder first watched after the previous batch is
  // in the next one by itself, with its sub-tree, since it may have changed
  // before its watch began (a folder moved in brings many at once: one walk
  // looks at them all again).
  virtual WatchWait Wait(WatchBatch* batch, std::string* problem) = 0;
};

// The names whose events matter beyond a name appearing or going: an
// edited manifest (manifestNames) is rewritten, an edited ignoreFileName
// changes what is skipped in its folder's whole sub-tree.
struct WatchOptions {
  std::string ignoreFileName;
  std::vector<std::string> manifestNames;
};

// Opens the watch of the tree at rootFullPath (a full path, '\' separators,
// as os::tree::FullPath gives it). Null, with *problem set, when it cannot
// be opened (*limit: the system's limit of watching programs was reached).
std::unique_ptr<TreeWatch> OpenTreeWatch(const std::string& rootFullPath, std::string* problem,
                                         bool* limit, const WatchOptions& options = {});

// Wakes a Wait in progress as the interrupt does (Windows: called by the
// console's control handler; POSIX: the signal itself interrupts the wait).
void WakeTreeWatch();


// What the back-ends share.
// The quiet period that gathers a burst of events into one batch.
class Gathering {
 public:
  // An event that makes or adds to the batch.
  void Noted();
  // While a batch is pending: the milliseconds until it is due (0: now).
  // The gathering begins with the first call or event.
  unsigned MillisecondsLeft();

 private:
  double first_ = 0;
  double last_ = 0;
};
// Hands the pending changes out as one batch (all of the tree instead when
// events were lost) and starts afresh.
void HandOut(WatchBatch* batch, std::vector<FolderChange>* pending, bool* rescan);
// Whether a file name is a temporary file of the tools (~mm*.tmp, any case).
bool IsToolTemporaryName(std::string_view name);
// Whether two names are equal but for ASCII case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);
// Adds a change to a sorted set kept without overlap: a folder already
// covered by a sub-tree change is not added again, and a sub-tree change
// takes the place of those beneath it.
void AddChange(std::vector<FolderChange>* changes, FolderChange change);
// The folder that holds path (relative, '\' separators): "" for a name at
// ROOT.
std::string ParentFolder(std::string_view path);
// folder\name, or name when folder is ROOT ("").
std::string ChildFolder(std::string_view folder, std::string_view name);

}  // namespace os::tree
