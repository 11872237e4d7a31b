// modmanifest-tree --watch: a normal run, then every manifest of the tree
// kept current as folders and XML files come, go and are renamed, until
// Ctrl-C (or SIGTERM, or the console closing).
#pragma once

#include <atomic>

#include "tree/options.h"
#include "tree/reporter.h"

namespace tree {

// --poll: the seconds between two polls of the whole tree (0: poll only
// where the file system does not report changes made elsewhere).
constexpr double kDefaultPollSeconds = 1;
constexpr double kShortestPollSeconds = 0.2;
constexpr double kLongestPollSeconds = 60;

// Runs the tree as RunTree does, then watches it. Returns the exit status:
// that of the first run when ROOT is no folder to run on (a usage error), 1
// when the tree cannot be watched (the first run could not reach ROOT or
// write its output, the system's limit of watches, ROOT renamed or
// removed, an ignore file above ROOT that cannot be used), 0 once
// interrupted.
int RunWatch(const Options& options, double pollSeconds = 0);

// Ends a watch that a presenter other than the console runs: a wait in
// progress ends at once (on Windows; elsewhere once its batch is in); an
// update in hand is finished first, so every manifest is complete and no
// temporary file is left.
class WatchStop {
 public:
  void Request();
  bool Requested() const { return requested_.load(); }

 private:
  std::atomic<bool> requested_{false};
};

// The same run and watch, presented through reporter, until stop is
// requested (from another thread) or the watch cannot go on. Returns the
// exit status as RunWatch does, 0 once stopped.
int RunWatch(const Options& options, Reporter& reporter, const WatchStop& stop);

}  // namespace tree
