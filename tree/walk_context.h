// What the walk and its folder updates share in one run: its options, its
// presenter, the folders it works through, its tally and its writer; and
// the one way a run fails a folder, warns, and stops early.
#pragma once

#include <string>

#include "platform/folder_access.h"
#include "tree/manifest_writer.h"
#include "tree/options.h"
#include "tree/outcome.h"
#include "tree/reporter.h"

namespace tree {

// Thrown by CheckStop once the batch in hand is abandoned; the session
// catches it and returns the outcome.
struct WalkStopped {
  StopReason reason;
};

struct WalkContext {
  // stop: a stop the front may ask for; null when only the platform's
  // interrupt can stop the run.
  WalkContext(const Options& options, Reporter& reporter, os::FolderAccess& access,
              const StopToken* stop);

  // A folder or one of its files failed: counted and reported.
  void Fail(const std::string& folder, const Failure& why);
  void Warn(const std::string& folder, const Warning& warning);
  // Stops the run when it must (an interrupt, a stop the front asked for,
  // standard output failed): the batch in hand is abandoned, the stop said,
  // and WalkStopped thrown.
  void CheckStop();
  // Whether standard output failed, after saying so.
  bool OutputFailed();
  // A staged manifest took its place (failure null) or failed.
  void ManifestDone(const ManifestLabel& label, const WriteFailure* failure);

  const Options& options;
  Reporter& reporter;
  os::FolderAccess& access;
  const StopToken* stop;
  Tally tally;
  ManifestWriter writer;
};

}  // namespace tree
