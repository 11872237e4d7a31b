// What the parts of one run share: its options, its presenter, the folders
// it works through, its tally and its writer; and the one way a run fails a
// folder, warns, and ends early.
#pragma once

#include <string>

#include "platform/folder_access.h"
#include "tree/manifest_writer.h"
#include "tree/options.h"
#include "tree/paths.h"
#include "tree/reporter.h"

namespace tree {

// The message of a folder that cannot be listed.
std::string CannotList(const std::string& shown, os::Dword error);

struct RunState {
  RunState(const Options& options, Reporter& reporter, os::FolderAccess& access);

  // A folder or one of its files failed: counted and reported.
  void Fail(const std::string& folder, const std::string& text);
  void Warn(const std::string& folder, const std::string& text);
  // Ends the run at once after an interrupt (Ctrl-C, a closed pipe) or a
  // failed write to standard output, with the batch in hand abandoned.
  void CheckEnd();
  // Whether standard output failed, after saying so.
  bool OutputFailed();
  // A staged manifest took its place (failure null) or failed.
  void ManifestDone(const ManifestLabel& label, const WriteFailure* failure);

  const Options& options;
  Reporter& reporter;
  os::FolderAccess& access;
  Tally tally;
  ManifestWriter writer;

};

}  // namespace tree
