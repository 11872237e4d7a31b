#include "tree/walk_context.h"

#include <algorithm>

#include "platform/console.h"
#include "platform/process_control.h"

namespace tree {

WalkContext::WalkContext(const Options& options, Reporter& reporter, os::FolderAccess& access,
                         const StopToken* stop)
    : options(options),
      reporter(reporter),
      access(access),
      stop(stop),
      writer(access,
             [this](const ManifestLabel& label, const WriteFailure* failure) {
               ManifestDone(label, failure);
             },
             std::min(access.SyncBatchSize(), access.Budget().writer)) {}

void WalkContext::Fail(const std::string& folder, const Failure& why) {
  ++tally.failed;
  reporter.Failed(folder, why);
}

void WalkContext::Warn(const std::string& folder, const Warning& warning) {
  ++tally.warnings;
  reporter.Warned(folder, warning);
}

void WalkContext::ManifestDone(const ManifestLabel& label, const WriteFailure* failure) {
  if (failure == nullptr) {
    ++tally.changed;
    reporter.Written(label.folder, label.shown);
  } else if (failure->refused == nullptr && failure->error == os::kErrorPathNotFound) {
    reporter.Noticed(Notice(NoticeCode::VanishedUnwritten, {label.shown}));
  } else {
    Fail(label.folder, failure->refused != nullptr
                           ? Failure(FailCode::WriteRefused, {label.shown, failure->refused})
                           : Failure(FailCode::CannotWrite, {label.shown}, failure->error));
  }
}

bool WalkContext::OutputFailed() {
  const os::Dword error = os::OutputError();
  if (error == 0) return false;
  reporter.Problem(RunProblem(ProblemCode::OutputFailed, {}, error));
  return true;
}

void WalkContext::CheckStop() {
  StopReason reason = StopReason::None;
  if (os::Interrupted()) {
    reason = StopReason::Interrupted;
  } else if (stop != nullptr && stop->Requested()) {
    reason = stop->Reason();
  } else if (os::OutputError() != 0) {
    reason = StopReason::OutputFailed;
  } else {
    return;
  }
  writer.Abandon();
  if (reason == StopReason::OutputFailed) {
    OutputFailed();
  } else {
    reporter.Stopped();
  }
  throw WalkStopped{reason};
}

}  // namespace tree
