// modmanifest-tree --watch: a normal run, then every manifest of the tree
// kept current as folders and XML files come, go and are renamed, until
// Ctrl-C (or SIGTERM, or the console closing).
#pragma once

#include "tree/options.h"
#include "tree/outcome.h"
#include "tree/reporter.h"

namespace tree {

// --poll: the seconds between two polls of the whole tree (0: poll only
// where the file system does not report changes made elsewhere).
constexpr double kDefaultPollSeconds = 1;
constexpr double kShortestPollSeconds = 0.2;
constexpr double kLongestPollSeconds = 60;

// Runs the tree as a session does, presented through reporter, then
// watches it until stop is requested (from another thread), the platform's
// interrupt arrives, or the watch cannot go on. The outcome: that of the
// first run when ROOT is no folder to run on (a usage error) or a stop cut
// it short; kExitFailed when the tree cannot be watched (the first run
// could not reach ROOT or write its output, the system's limit of watches,
// ROOT renamed or removed, an ignore file above ROOT that cannot be used);
// kExitDone with the stop's reason once stopped between batches. A stop
// during an update ends the watch as it ends a run.
Outcome RunWatch(const Options& options, Reporter& reporter, const StopToken& stop,
                 double pollSeconds = 0);

}  // namespace tree
