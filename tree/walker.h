// The walk: ROOT and the folders beneath it, depth first, each folder
// opened relative to its parent without following a link, listed once and
// brought up to date; or one chosen folder (and its sub-tree), reached
// through the folders above it. Entering a folder is one step for both:
// its ignore file read and its skip rules made, which its frame keeps for
// as long as the walk is in it.
//
// The walk holds the deepest folders on its path open, up to a budget, and
// moves that window down and up with the walk: a folder let go on the way
// down is reopened on the way back, when there is more to do in it, from
// the folder the walk came up from (".." a level, checked to be the folder
// it listed), or failing that from the deepest folder held above it, one
// name at a time and checked the same way. So the walk's cost grows with
// the number of folders, however deep the tree.
#pragma once

#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tree/folder_update.h"
#include "tree/root.h"
#include "tree/walk_context.h"
#include "tree/skip_rules.h"

namespace tree {

class Walker {
 public:
  using Handle = std::shared_ptr<os::FolderHandle>;
  // Called for each folder the walk visits (lists), before its sub-folders,
  // with its path relative to ROOT and the handle the walk holds it by.
  using Visited = std::function<void(const std::string& folder, const os::FolderHandle& handle)>;
  // Called for each folder the walk has listed, with the listing.
  using Listed =
      std::function<void(const std::string& folder, const std::vector<os::ListedEntry>& entries)>;

  Walker(WalkContext& run, Root& root, const Visited& visited, const Listed& listed);

  // ROOT (open as root) and every folder beneath it; top: the rules at ROOT.
  void WalkAll(Handle root, const SkipRules::Shared& top);
  // The folder relative to ROOT ("" for ROOT), and with subTree every folder
  // beneath it, each through the ignore files of every folder above it as
  // the full walk would. A folder that is gone, or skipped now, is not
  // visited.
  void WalkTo(Handle root, const SkipRules::Shared& top, const std::string& folder, bool subTree);

 private:
  // A folder on the walk's path. Its paths are prefixes of relative_ and
  // shown_, so that a deep path is kept once, not once for each level.
  struct Frame {
    std::string name;
    size_t relativeEnd = 0;
    size_t shownEnd = 0;
    Handle handle;          // null while let go
    uint64_t identity = 0;  // taken when let go, to check the folder reopened
    SkipRules::Shared rules;
    std::vector<SubFolder> subFolders;
    size_t next = 0;
  };

  WalkFolder FolderAt(size_t index) const;
  // The folder name in the one on top (ROOT when there is none).
  WalkFolder Below(const std::string& name) const;
  bool Enter(const os::FolderHandle& handle, const WalkFolder& folder, Frame* frame,
             std::string_view ignoreFile, bool saySkipped);
  void Push(Frame frame, const WalkFolder& folder, Handle handle);
  void Pop();
  void Hold(size_t index, Handle handle);
  void Visit(Handle handle, const std::string& name);
  bool EnterAbove(Handle handle, const std::string& name);
  void Descend(size_t base);
  Handle HandleAt(size_t index, os::Dword* error);
  bool Gone(const std::string& shown, os::Dword error);

  WalkContext& run_;
  Root& root_;
  const Visited& visited_;
  const Listed& listed_;
  FolderUpdate update_;
  size_t budget_;
  SkipRules::Shared top_;
  bool full_ = false;  // the full walk, which shows progress
  std::vector<Frame> stack_;
  std::string relative_, shown_;  // the paths of the frame on top
  size_t held_ = 0;               // frames that hold their folder open
  size_t lowest_ = 0;             // no frame above it holds its folder
  // While the frame on top is let go: the folder the walk came up from, the
  // one of frame carriedLevel_ before it was taken off.
  Handle carried_;
  size_t carriedLevel_ = 0;
};

}  // namespace tree
