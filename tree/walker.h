// The walk: ROOT and the folders beneath it, depth first, each folder
// opened relative to its parent without following a link, listed once and
// brought up to date; or one chosen folder (and its sub-tree), reached
// through the folders above it. Entering a folder is one step for both:
// its ignore file read and its skip rules made, which its frame keeps for
// as long as the walk is in it.
//
// The walk holds the folders on its path open up to a budget; a deeper one
// is let go while its sub-folders are visited and reopened from the
// deepest held folder, one name at a time, checked to be the folder it
// listed.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tree/folder_update.h"
#include "tree/root.h"
#include "tree/run_state.h"
#include "tree/skip_rules.h"

namespace tree {

class Walker {
 public:
  using Handle = std::shared_ptr<os::FolderHandle>;
  // Called for each folder the walk visits (lists), before its sub-folders,
  // with its path relative to ROOT.
  using Visited = std::function<void(const std::string& folder)>;

  Walker(RunState& run, Root& root, const Visited& visited);

  // ROOT (open as root) and every folder beneath it; top: the rules at ROOT.
  void WalkAll(Handle root, const SkipRules::Shared& top);
  // The folder relative to ROOT ("" for ROOT), and with subTree every folder
  // beneath it, each through the ignore files of every folder above it as
  // the full walk would. A folder that is gone, or skipped now, is not
  // visited.
  void WalkTo(Handle root, const SkipRules::Shared& top, const std::string& folder, bool subTree);

 private:
  struct Frame {
    WalkFolder folder;
    Handle handle;          // null once let go (deeper than the budget)
    uint64_t identity = 0;  // of a folder let go, to check it when reopened
    SkipRules::Shared rules;
    std::vector<SubFolder> subFolders;
    size_t next = 0;
  };

  bool Enter(const os::FolderHandle& handle, Frame* frame, std::string_view ignoreFile,
             const std::string& suffix);
  void Visit(Handle handle, const std::string& name);
  bool EnterAbove(Handle handle, const std::string& name);
  void Descend(size_t base);
  Handle HandleAt(size_t index, os::Dword* error);
  bool Gone(const std::string& shown, os::Dword error);
  const WalkFolder* Parent() const { return stack_.empty() ? nullptr : &stack_.back().folder; }

  RunState& run_;
  Root& root_;
  const Visited& visited_;
  FolderUpdate update_;
  size_t budget_;
  SkipRules::Shared top_;
  bool full_ = false;  // the full walk, which shows progress
  std::vector<Frame> stack_;
};

}  // namespace tree
