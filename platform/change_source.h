// The file system's change notifications for a tree of folders, as the
// system gives them: what happened to which name in which watched folder.
// The source decides nothing about what a change means to its caller; it
// declares, in its traits, what its system does differently, so that one
// set of rules above it can read every system's changes alike. Linux:
// inotify, one watch per folder; Windows: ReadDirectoryChangesW on the top
// folder with its sub-tree.
//
// Folders are named relative to the top folder the source was opened on,
// names joined by '\' ("" is the top folder itself).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/folder_access.h"

namespace os {

enum class ChangeKind : unsigned char {
  Created,
  Removed,
  RenamedFrom,  // the old name of a rename
  RenamedTo,    // the new name of a rename
  Modified,     // a file's bytes (at each write, or when its writer closes it),
                // or on Windows a folder's own time; with no name, the
                // watched folder's names moved, which ones unsaid (a poll)
  AttributesChanged,  // Linux: permissions or times; Windows: a folder made hidden or
                      // system, or no longer
  Lost,         // the system dropped changes (its queue overflowed), or a file
                // system was mounted or unmounted: anything may have changed
                // in the folder and beneath it (a system says so of the top
                // folder, "", a poll of a folder it cannot look at)
  FolderGone,   // the watched folder itself was removed (name is empty)
  FolderMoved,  // the watched folder itself was renamed or moved (name is empty)
  FolderUnmounted,  // the file system of the watched folder was unmounted (name is empty)
};

// What a changed name is, when the system says so. A link (on Windows any
// reparse point) is no folder to enter, whatever it points to.
enum class EntryKind : unsigned char { Unknown, File, Folder, Link };

struct RawChange {
  ChangeKind kind;
  std::string folder;  // the watched folder the change happened in
  std::string name;    // the name in it that changed
  EntryKind entry = EntryKind::Unknown;
  // The two halves of one rename carry the same non-zero number.
  uint32_t renameCookie = 0;
};

// How a system reports what it reports.
struct ChangeTraits {
  // Names are one name in any case (Windows); else exactly as written.
  bool namesAnyCase = false;
  // After a folder is renamed, the source goes on naming what lies beneath
  // it by the old names until it starts over (Wine).
  bool staleAfterFolderRename = false;
};

enum class WatchStart {
  Started,  // watched from now on
  Known,    // watched already
  Gone,     // no folder there now (gone, or a link or file in its place)
  Failed,   // cannot be watched (*problem says why)
  Limit,    // the system's limit of watches is reached (*problem says which)
};

enum class ChangeWait {
  Changes,      // changes were added
  TimedOut,
  Interrupted,  // Ctrl-C, SIGTERM, SIGHUP or the console closing
  Failed,       // the source itself broke; *problem says why
};

class ChangeSource {
 public:
  virtual ~ChangeSource() = default;

  virtual const ChangeTraits& Traits() const = 0;

  // Starts watching a folder beneath the top one, open as handle (opened
  // without following a link), however long its path. A folder reached by
  // several paths (a bind mount) is watched once: Known for the second.
  // Where one watch covers the whole tree, only takes note of it.
  virtual WatchStart Watch(const std::string& folder, const FolderHandle& handle,
                           std::string* problem) = 0;

  // Stops watching the folder and everything beneath it.
  virtual void Unwatch(const std::string& folder) = 0;

  // Blocks, using no CPU, until changes arrive, the interrupt comes or
  // timeoutMilliseconds pass (-1: no limit), and appends what arrived.
  virtual ChangeWait Wait(int timeoutMilliseconds, std::vector<RawChange>* changes,
                          std::string* problem) = 0;

  // Drops what the source knows of the tree and watches it anew, every
  // folder it was told of included (for staleAfterFolderRename). False,
  // with *problem set, when it cannot.
  virtual bool StartOver(std::string* problem) = 0;
};

// Opens the change source of the tree at topFullPath (a full path, '\'
// separators). Null, with *problem set, when it cannot be opened (*limit:
// the system's limit of watching programs was reached).
std::unique_ptr<ChangeSource> OpenChangeSource(const std::string& topFullPath,
                                               std::string* problem, bool* limit);

// Why changes to the open folder made elsewhere may never be reported here,
// as the subject of "... does not report changes made elsewhere": a file
// system that only polling can follow (Linux: its type in
// /proc/self/mountinfo, "the file system (9p)"; Windows: "a network
// drive"). "" where notifications can be trusted.
std::string UnreportedChangesReason(const FolderHandle& folder);

// Wakes a Wait in progress as the interrupt does (Windows: called by the
// console's control handler; POSIX: the signal itself interrupts the wait).
void WakeChangeWait();

}  // namespace os
