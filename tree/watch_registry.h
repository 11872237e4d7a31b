// The folders a watch watches: which ones, with which identity, and how a
// sub-tree stops being watched, by the change source and the poller alike,
// under the one case rule the source declares. A folder first watched once
// the watch is under way may have changed before its watch began (a folder
// moved in brings many at once): its sub-tree comes back to be looked at.
//
// Folders are named relative to ROOT, names joined by '\' ("" is ROOT).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/change_source.h"
#include "tree/change_filter.h"
#include "tree/paths.h"

namespace tree {

class Poller;

class WatchRegistry {
 public:
  WatchRegistry(os::ChangeSource& source, Poller& poller);

  // Starts watching a folder the walk visits, open as handle; identity: the
  // folder's, as the folder access tells it. Another folder at a known path
  // (a file system mounted there) first takes the place of what was known
  // at and beneath it.
  os::WatchStart Watch(const std::string& folder, const os::FolderHandle& handle,
                       uint64_t identity, std::string* problem);
  bool Knows(const std::string& folder) const { return watched_.count(folder) != 0; }
  // Whether the folder is watched as the folder of that identity.
  bool Holds(const std::string& folder, uint64_t identity) const;
  // Stops watching the folder and everything beneath it.
  void Forget(const std::string& folder);
  // The folders watched at or beneath folder.
  std::vector<std::string> Watched(const std::string& folder) const;

  // The first run is over: a folder first watched from now on comes back.
  void Begin() { begun_ = true; }
  // The sub-trees come back since the last call.
  std::vector<FolderChange> TakeReturning();

 private:
  os::ChangeSource& source_;
  Poller& poller_;
  const NameCase rule_;
  std::map<std::string, uint64_t, NameLess> watched_;  // with its identity
  bool begun_ = false;
  std::vector<FolderChange> returning_;
};

}  // namespace tree
