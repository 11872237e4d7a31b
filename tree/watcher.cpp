#include "tree/watcher.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/change_source.h"
#include "platform/folder_access.h"
#include "platform/process_control.h"
#include "tree/change_filter.h"
#include "tree/console_reporter.h"
#include "tree/run_state.h"
#include "tree/session.h"

namespace tree {
namespace {

class Watcher {
 public:
  explicit Watcher(const Options& options)
      : shownRoot_(options.root.empty() ? std::string(".") : options.root),
        reporter_(options),
        session_(options, reporter_) {
    session_.OnFolderVisited([this](const std::string& folder) { Visited(folder); });
  }

  int Run() {
    // Opened before the first run, so that what changes while it runs is
    // seen too.
    if (!OpenSource()) return kExitFailed;
    const int status = session_.Run();
    // No ROOT to watch: the run has said why.
    if (status == kExitUsage || source_ == nullptr) return status == kExitDone ? kExitFailed : status;
    if (CannotGoOn()) return kExitFailed;
    reporter_.Watching(shownRoot_);
    watching_ = true;
    os::InterruptIsNormalEnd();
    return Watch();
  }

 private:
  // False after saying why when ROOT is there but cannot be watched; with
  // no ROOT to watch, the first run says why.
  bool OpenSource() {
    os::Dword error = 0;
    if (!os::FullPath(shownRoot_, &rootPath_, &error)) return true;
    std::string problem;
    bool limit = false;
    source_ = os::OpenChangeSource(rootPath_, &problem, &limit);
    if (source_ == nullptr) {
      reporter_.Problem("cannot watch " + shownRoot_ + ": " + problem);
      return false;
    }
    filter_ = std::make_unique<ChangeFilter>(
        source_->Traits(), [this](const std::string& folder) { source_->Unwatch(folder); });
    return true;
  }

  // Batch after batch until interrupted or the watch breaks: the exit status.
  int Watch() {
    for (;;) {
      ChangeBatch batch;
      std::string problem;
      waited_ = true;
      switch (filter_->NextBatch(*source_, &batch, &problem)) {
        case os::ChangeWait::Interrupted:
          return kExitDone;
        case os::ChangeWait::Failed:
          reporter_.Problem("stopped watching " + shownRoot_ + ": " + problem);
          return kExitFailed;
        default:
          break;
      }
      Apply(batch);
      if (CannotGoOn()) return kExitFailed;
      if (os::Interrupted()) return kExitDone;
      // Not every system tells a watch that its own folder went (Wine does
      // not): the removal of what was in it does.
      if (os::Os().GetFileAttributesA(rootPath_.c_str()) == os::kInvalidFileAttributes) {
        reporter_.Problem("stopped watching " + shownRoot_ + ": the folder was removed");
        return kExitFailed;
      }
    }
  }

  // Brings the folders of a batch up to date; failures are reported as a
  // run reports them and never end the watch.
  void Apply(const ChangeBatch& batch) {
    std::vector<TreeSession::Folder> folders;
    if (batch.rescanAll) {
      // Changes were lost: every folder is looked at again, as a rerun
      // would.
      folders.push_back({"", true});
    } else {
      for (const FolderChange& change : batch.changes) folders.push_back({change.folder, change.subTree});
    }
    visited_.clear();
    session_.Update(folders);
    // What a sub-tree's update did not visit is gone, skipped now, or a
    // link now: no longer watched.
    for (const TreeSession::Folder& folder : folders) {
      if (!folder.subTree) continue;
      for (const std::string& watched : filter_->Watched(folder.path)) {
        if (visited_.count(watched) == 0) filter_->Forget(watched);
      }
    }
  }

  // A folder relative to ROOT as the user sees it.
  std::string ShownFolder(const std::string& folder) const {
    if (folder.empty()) return shownRoot_;
    std::string name = folder;
#ifndef _WIN32
    for (char& c : name) {
      if (c == '\\') c = '/';
    }
#endif
    return Shown(shownRoot_, name);
  }

  void Visited(const std::string& folder) {
    if (watching_) visited_.insert(folder);
    if (source_ == nullptr || !watchProblem_.empty() || filter_->Knows(folder)) return;
    std::string problem;
    switch (source_->Watch(folder, &problem)) {
      case os::WatchStart::Started:
      case os::WatchStart::Known:
        filter_->Watching(folder);
        // It may have changed before its watch began: a folder moved in
        // brings many at once, and one walk looks at them all again.
        if (waited_) filter_->Add({folder, true});
        return;
      case os::WatchStart::Gone:
        return;  // its parent's changes tell
      case os::WatchStart::Limit:
        watchProblem_ = "cannot watch " + ShownFolder(folder) + ": " + problem;
        return;
      case os::WatchStart::Failed:
        // One folder the watch cannot see (no permission, say) costs only
        // that folder, as in a run.
        reporter_.WatchNote("cannot watch " + ShownFolder(folder) + ": " + problem +
                            "; changes there go unseen");
        return;
    }
  }

  // The system's limit of watches was reached: changes in every folder
  // after it would go unseen, so the watch ends rather than promise what it
  // cannot keep.
  bool CannotGoOn() {
    if (watchProblem_.empty()) return false;
    reporter_.Problem(watchProblem_);
    return true;
  }

  const std::string shownRoot_;
  std::string rootPath_;  // full path, '\' separators
  ConsoleReporter reporter_;
  TreeSession session_;
  std::unique_ptr<os::ChangeSource> source_;
  std::unique_ptr<ChangeFilter> filter_;
  std::string watchProblem_;
  bool watching_ = false;
  bool waited_ = false;  // a batch has been waited for: new folders are checked again
  std::set<std::string> visited_;  // by the update in hand
};

}  // namespace

int RunWatch(const Options& options) {
  Watcher watcher(options);
  return watcher.Run();
}

}  // namespace tree
