// The folders a watch looks at itself, every so often, because their file
// system does not report changes made elsewhere (a share, WSL's Windows
// drives, a virtual machine's shared folder, FUSE), or because --poll asks.
// A manifest depends only on a folder's names, its own bytes and its
// folder's ignore file: one pass asks each folder for its stamp and those
// two files' (one open and three stats), and lists only the folders whose
// names moved, for sub-folders that came.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/folder_access.h"
#include "tree/change_filter.h"

namespace tree {

class Poller {
 public:
  explicit Poller(os::FolderAccess& access) : access_(access) {}

  // Polls a folder the walk visits (open as handle; manifest: its
  // manifest's name), its stamps taken now. A folder polled already gets
  // fresh stamps.
  void Add(const std::string& folder, const os::FolderHandle& handle, std::string_view manifest);
  bool Polls(const std::string& folder) const { return polled_.count(folder) != 0; }
  // Stops polling the folder and everything beneath it.
  void Forget(const std::string& folder);
  bool Empty() const { return polled_.empty(); }

  // One pass over every folder polled, each opened beneath root: changed is
  // called for each folder whose manifest may have changed.
  void Pass(const os::FolderHandle& root, const std::function<void(FolderChange)>& changed);

 private:
  struct Stamps {
    os::FileStamp folder, manifest, ignoreFile;
    std::string manifestName;
    int64_t takenAt = 0;  // wall clock, nanoseconds since 1970
  };

  Stamps Take(const os::FolderHandle& handle, std::string_view manifest);
  static bool Racy(const Stamps& stamps);
  void NewSubFolders(const std::string& folder, const os::FolderHandle& handle,
                     const std::function<void(FolderChange)>& changed);

  os::FolderAccess& access_;
  std::map<std::string, Stamps> polled_;  // ordered: a sub-tree is a range
};

}  // namespace tree
