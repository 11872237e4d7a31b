#include "tree/run_state.h"

#include <algorithm>
#include <cstdlib>

#include "platform/console.h"
#include "platform/process_control.h"
#include "tree/error_text.h"

namespace tree {

std::string CannotList(const std::string& shown, os::Dword error) {
  return "cannot list folder " + Dotted(shown) + ": " + ErrorText(error);
}

RunState::RunState(const Options& options, Reporter& reporter, os::FolderAccess& access)
    : options(options),
      reporter(reporter),
      access(access),
      writer(access,
             [this](const ManifestLabel& label, const WriteFailure* failure) {
               ManifestDone(label, failure);
             },
             std::min(access.SyncBatchSize(), access.Budget().writer)) {}

void RunState::Fail(const std::string& folder, const std::string& text) {
  ++tally.failed;
  reporter.Failed(folder, text);
}

void RunState::Warn(const std::string& folder, const std::string& text) {
  ++tally.warnings;
  reporter.Warned(folder, text);
}

void RunState::ManifestDone(const ManifestLabel& label, const WriteFailure* failure) {
  if (failure == nullptr) {
    ++tally.changed;
    reporter.Written(label.folder, label.shown);
  } else if (failure->refused == nullptr && failure->error == os::kErrorPathNotFound) {
    reporter.Noticed(label.shown + ": its folder vanished during the run; not written");
  } else {
    Fail(label.folder, "cannot write " + label.shown + ": " +
                           (failure->refused != nullptr
                                ? std::string("the manifest ") + failure->refused
                                : ErrorText(failure->error)));
  }
}

bool RunState::OutputFailed() {
  const os::Dword error = os::OutputError();
  if (error == 0) return false;
  reporter.Problem("cannot write to standard output: " + ErrorText(error));
  return true;
}

void RunState::CheckEnd() {
  if (os::Interrupted()) {
    writer.Abandon();
    reporter.Stopped();
    os::EndInterrupted();
  }
  if (os::OutputError() != 0) {
    writer.Abandon();
    OutputFailed();
    std::_Exit(kExitFailed);
  }
}

}  // namespace tree
