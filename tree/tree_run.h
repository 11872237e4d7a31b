// The whole-tree run: visits ROOT and every folder beneath it, depth first,
// and brings each folder's manifest up to date (or, checking, reports the
// ones that are not).
#pragma once

#include <string>
#include <vector>

namespace tree {

struct Options {
  std::string root;                   // as given; empty: the current folder
  std::vector<std::string> excludes;  // folder-name patterns
  bool check = false;
  bool quiet = false;
  bool verbose = false;
  bool hidden = false;  // visit and include hidden folders too
};

// Exit statuses.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;  // a folder or manifest failed, or --check found one stale
constexpr int kExitUsage = 2;

// Runs the walk and prints its findings and summary. Returns the exit status.
int RunTree(const Options& options);

// The English text of a Win32 error, for messages.
std::string ErrorText(unsigned long error);

}  // namespace tree
