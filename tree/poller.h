// The folders a watch looks at itself, every so often, because their file
// system does not report changes made elsewhere (a share, WSL's Windows
// drives, a virtual machine's shared folder, FUSE), or because --poll asks.
// A manifest depends only on a folder's names, its own bytes and its
// folder's ignore file: one pass asks each folder for its stamp and those
// two files' (one open and three stats), and lists only the folders whose
// names moved, for sub-folders that came. What it finds it tells as raw
// changes, as a change source would, for the same rules to read.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/change_source.h"
#include "platform/folder_access.h"
#include "tree/paths.h"

namespace tree {

// The wall clock, as stamps are compared with it: nanoseconds since 1970.
int64_t StampTime();
// Whether a change may still hide behind a stamp taken at takenAt that is
// unchanged since: one made within the same tick of the file system's clock
// as the write the stamp shows.
bool MayHideAChange(const os::FileStamp& stamp, int64_t takenAt);

class Poller {
 public:
  // rule: how names compare (the change source's rule).
  Poller(os::FolderAccess& access, NameCase rule)
      : access_(access), rule_(rule), polled_(NameLess{rule}) {}

  // Polls a folder the walk visits (open as handle; manifest: its
  // manifest's name), its stamps taken now. A folder polled already gets
  // fresh stamps.
  void Add(const std::string& folder, const os::FolderHandle& handle, std::string_view manifest);
  bool Polls(const std::string& folder) const { return polled_.count(folder) != 0; }
  // Stops polling the folder and everything beneath it.
  void Forget(const std::string& folder);
  bool Empty() const { return polled_.empty(); }

  // One pass over every folder polled, each opened beneath root: appends
  // what moved. A folder it cannot open is Lost (anything may have changed
  // at or beneath it); one whose names moved is Modified with no name; its
  // manifest or ignore file moved, Modified by that name; a sub-folder not
  // polled yet, Created.
  void Pass(const os::FolderHandle& root, std::vector<os::RawChange>* changes);

 private:
  struct Stamps {
    os::FileStamp folder, manifest, ignoreFile;
    std::string manifestName;
    int64_t takenAt = 0;  // wall clock, nanoseconds since 1970
  };

  Stamps Take(const os::FolderHandle& handle, std::string_view manifest);
  void NewSubFolders(const std::string& folder, const os::FolderHandle& handle,
                     std::vector<os::RawChange>* changes);

  os::FolderAccess& access_;
  const NameCase rule_;
  std::map<std::string, Stamps, NameLess> polled_;  // ordered: a sub-tree is a range
};

}  // namespace tree
