// What a run of the whole-tree tool is asked to do, and how it ends.
#pragma once

#include <string>
#include <vector>

namespace tree {

struct Options {
  std::string root;                   // as given; empty: the current folder
  std::vector<std::string> excludes;  // folder-name patterns
  bool check = false;
  bool hidden = false;  // visit and include hidden folders too
};

// Exit statuses.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;  // a folder or manifest failed, or --check found one stale
constexpr int kExitUsage = 2;

}  // namespace tree
