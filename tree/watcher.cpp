#include "tree/watcher.h"

#include <cstdio>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/change_source.h"
#include "platform/console.h"
#include "platform/folder_access.h"
#include "platform/process_control.h"
#include "rules/manifest_rule.h"
#include "tree/change_filter.h"
#include "tree/ignore_file.h"
#include "tree/paths.h"
#include "tree/poller.h"
#include "tree/report_words.h"
#include "tree/session.h"
#include "tree/watch_loop.h"
#include "tree/watch_registry.h"
#include "tree/watch_warnings.h"

namespace tree {
namespace {

// How often the watch looks at ROOT and at the ignore files above it when
// it polls nothing: no system tells a watch of those.
constexpr double kTickSeconds = 2;

class Watcher {
 public:
  Watcher(const Options& options, double pollSeconds, Reporter& presenter,
          const StopToken& stop)
      : shownRoot_(options.root.empty() ? std::string(".") : options.root),
        pollSeconds_(pollSeconds),
        stop_(stop),
        reporter_(presenter),
        session_(options, reporter_, access_, &stop) {
    session_.OnFolderVisited(
        [this](const std::string& folder, const os::FolderHandle& handle) { Visited(folder, handle); });
  }

  Outcome Run() {
    // ROOT resolved once, for the run and the watch; the source opened
    // before the first run, so that what changes while it runs is seen too.
    const Outcome opened = session_.Open();
    if (opened.status != kExitDone || opened.stop != StopReason::None) return opened;
    if (!OpenSource()) return {kExitFailed};
    const Outcome first = session_.Run();
    heldRoot_.reset();
    // No ROOT to watch, or the run stopped (standard output failed, say):
    // the run has said why.
    if (first.status == kExitUsage || first.stop != StopReason::None) return first;
    if (!session_.Reached() || source_ == nullptr) {
      reporter_.Problem("cannot watch " + shownRoot_ + ": the run could not work in it");
      return {kExitFailed};
    }
    if (CannotGoOn()) return {kExitFailed};
    StampIgnoreFilesAbove();
    reporter_.Watching(shownRoot_);
    watching_ = true;
    registry_->Begin();
    loop_ = std::make_unique<WatchLoop>(*source_, *registry_,
                                        pollSeconds_ > 0 ? pollSeconds_ : kTickSeconds);
    os::InterruptIsNormalEnd();
    return Watch();
  }

 private:
  // False after saying why when ROOT is there but cannot be watched; one
  // that cannot be held open is the first run's to report.
  bool OpenSource() {
    if (!HoldRoot()) return true;
    std::string problem;
    bool limit = false;
    source_ = os::OpenChangeSource(rootPath_, &problem, &limit);
    if (source_ == nullptr) {
      reporter_.Problem("cannot watch " + shownRoot_ + ": " + problem);
      return false;
    }
    // One case rule for every name the watch keeps: the source's.
    const NameCase rule = source_->Traits().namesAnyCase ? NameCase::Any : NameCase::Exact;
    poller_ = std::make_unique<Poller>(access_, rule);
    registry_ = std::make_unique<WatchRegistry>(*source_, *poller_);
    visited_ = std::set<std::string, NameLess>(NameLess{rule});
    heldRoot_ = root_;
    return true;
  }

  // ROOT, as the session resolved it, held open for as long as the watch
  // lasts: whether it could be.
  bool HoldRoot() {
    rootPath_ = session_.ResolvedRoot()->fullPath;
    auto root = std::make_shared<os::FolderHandle>();
    if (access_.OpenToKeep(rootPath_, root.get()) != 0) return false;
    root_ = root;
    rootIdentity_ = access_.Identity(*root_);
    return true;
  }

  // ROOT as its path opens now, when it is still the folder watched; else
  // null, with *problem saying what became of it.
  std::shared_ptr<os::FolderHandle> CheckRoot(std::string* problem) {
    auto now = std::make_shared<os::FolderHandle>();
    std::string name;
    if (access_.OpenRoot(rootPath_, now.get(), &name) == 0 &&
        access_.Identity(*now) == rootIdentity_) {
      return now;
    }
    *problem = access_.Removed(*root_) ? kRootRemoved : kRootMoved;
    return nullptr;
  }

  // Batch after batch until stopped or the watch breaks.
  Outcome Watch() {
    for (;;) {
      if (Stopped()) return {kExitDone, stop_.Reason()};
      ChangeBatch batch;
      std::string problem;
      switch (loop_->Wait(&batch, &problem)) {
        case WatchLoop::Next::Interrupted:
          return {kExitDone, Stopped() ? stop_.Reason() : StopReason::Interrupted};
        case WatchLoop::Next::Failed:
          return StoppedWatching(problem);
        case WatchLoop::Next::Tick:
          if (!Tick(&problem)) return StoppedWatching(problem);
          continue;
        case WatchLoop::Next::Batch:
          break;
      }
      if (!Apply(batch, &problem)) {
        if (updated_.stop != StopReason::None) return updated_;
        return StoppedWatching(problem);
      }
      if (CannotGoOn()) return {kExitFailed};
      if (os::Interrupted()) return {kExitDone, StopReason::Interrupted};
      if (Stopped()) return {kExitDone, stop_.Reason()};
    }
  }

  Outcome StoppedWatching(const std::string& problem) {
    reporter_.Problem("stopped watching " + shownRoot_ + ": " + problem);
    return {kExitFailed};
  }

  bool Stopped() const { return stop_.Requested(); }

  // Every tick: ROOT still there, the ignore files above it, and a poll of
  // what notifications cannot follow, whose findings take the source's way
  // in. False, with *problem set, when the watch cannot go on.
  bool Tick(std::string* problem) {
    const std::shared_ptr<os::FolderHandle> root = CheckRoot(problem);
    if (!root) return false;
    if (StampIgnoreFilesAbove()) {
      reloadAbove_ = true;
      loop_->Add({"", true});
    }
    if (poller_->Empty()) return true;
    std::vector<os::RawChange> found;
    poller_->Pass(*root, &found);
    return loop_->Take(found, problem);
  }

  // Takes the stamps of the ignore files above ROOT, in the very folders
  // the run reads them from: whether one changed.
  bool StampIgnoreFilesAbove() {
    std::vector<os::FileStamp> stamps;
    for (const std::string& folder : FoldersAbove(session_.ResolvedRoot()->fullPath)) {
      os::FolderHandle handle;
      os::FileStamp stamp;
      if (access_.OpenToKeep(folder, &handle) == 0) access_.Stamp(handle, kIgnoreFileName, &stamp);
      stamps.push_back(stamp);
    }
    const bool moved = stamps != aboveStamps_;
    aboveStamps_ = std::move(stamps);
    return moved;
  }

  // Brings the folders of a batch up to date, through ROOT checked to be
  // the folder watched. Failures are reported as a run reports them and
  // never end the watch. False, with *problem set, when the watch cannot go
  // on, or with updated_ saying why when a stop cut the update short.
  bool Apply(const ChangeBatch& batch, std::string* problem) {
    heldRoot_ = CheckRoot(problem);
    if (!heldRoot_) return false;
    if (reloadAbove_) {
      reloadAbove_ = false;
      if (!session_.ReloadIgnoreFilesAbove(problem)) {
        reporter_.Problem(*problem);
        *problem = "an ignore file above it cannot be used";
        return false;
      }
    }
    std::vector<TreeSession::Folder> folders;
    if (batch.rescanAll) {
      // Changes were lost: every folder is looked at again, as a rerun
      // would.
      folders.push_back({"", true});
    } else {
      for (const FolderChange& change : batch.changes) folders.push_back({change.folder, change.subTree});
    }
    visited_.clear();
    updated_ = session_.Update(folders, heldRoot_);
    if (updated_.stop != StopReason::None) {
      heldRoot_.reset();
      return false;
    }
    ReportUnreached(folders);
    heldRoot_.reset();
    // What a sub-tree's update did not visit is gone, skipped now, or a
    // link now: no longer watched.
    for (const TreeSession::Folder& folder : folders) {
      if (!folder.subTree) continue;
      for (const std::string& watched : registry_->Watched(folder.path)) {
        if (visited_.count(watched) == 0) registry_->Forget(watched);
      }
    }
    return true;
  }

  // A folder an update was asked for but could not open (made unreadable,
  // or renamed while it was) is reported as a run reports it; it is tried
  // again when it changes.
  void ReportUnreached(const std::vector<TreeSession::Folder>& folders) {
    for (const TreeSession::Folder& folder : folders) {
      if (visited_.count(folder.path) != 0) continue;
      os::FolderHandle handle;
      const os::Dword error = access_.OpenBeneath(*heldRoot_, folder.path, &handle);
      if (error == os::kErrorAccessDenied) {
        reporter_.Failed(folder.path, CannotList(ShownFolder(folder.path), error));
      }
    }
  }

  std::string ShownFolder(const std::string& folder) const { return ShownBelow(shownRoot_, folder); }

  // A folder the walk visits: watched, and polled where it must be, through
  // the walk's own handle (opened beneath ROOT without following a link), so
  // that the watch needs no descriptor of its own for it.
  void Visited(const std::string& folder, const os::FolderHandle& handle) {
    if (watching_) visited_.insert(folder);
    if (!heldRoot_ || !watchProblem_.empty()) return;
    const uint64_t identity = access_.Identity(handle);
    if (!registry_->Holds(folder, identity)) {
      StartWatching(folder, handle, identity);
    } else if (!poller_->Polls(folder)) {
      return;
    }
    Poll(folder, handle);
  }

  void StartWatching(const std::string& folder, const os::FolderHandle& handle,
                     uint64_t identity) {
    std::string problem;
    switch (registry_->Watch(folder, handle, identity, &problem)) {
      case os::WatchStart::Started:
      case os::WatchStart::Known:
      case os::WatchStart::Gone:  // its parent's changes tell
        return;
      case os::WatchStart::Limit:
        watchProblem_ = "cannot watch " + ShownFolder(folder) + ": " + problem;
        return;
      case os::WatchStart::Failed:
        // One folder the watch cannot see (no permission, say) costs only
        // that folder, as in a run; it is tried again when it changes.
        reporter_.WatchNote("cannot watch " + ShownFolder(folder) + ": " + problem +
                            "; changes there go unseen");
        return;
    }
  }

  // Polls the folder when --poll asks or its file system does not report
  // changes made elsewhere, saying so once where polling begins.
  void Poll(const std::string& folder, const os::FolderHandle& handle) {
    const bool polled = poller_->Polls(folder);
    std::string reason;
    if (!polled && pollSeconds_ == 0) {
      reason = os::UnreportedChangesReason(handle);
      if (reason.empty()) return;
    }
    const std::string name =
        folder.empty() ? session_.ResolvedRoot()->name : std::string(below::Leaf(folder));
    poller_->Add(folder, handle, rules::ManifestNameFor(name));
    if (polled || (!folder.empty() && poller_->Polls(std::string(below::Parent(folder))))) return;
    if (!reason.empty()) {
      reporter_.WatchNote("polling " + ShownFolder(folder) + ": " + reason +
                          " does not report changes made elsewhere");
    } else if (folder.empty()) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", pollSeconds_);
      reporter_.WatchNote("polling " + shownRoot_ + " every " + seconds + " s, as --poll asks");
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
  const double pollSeconds_;
  // Checked between batches and, through the session, between the folders
  // of a batch, so a stop ends the batch in hand as Ctrl-C ends it (the
  // console's token is never requested: Ctrl-C ends its watch).
  const StopToken& stop_;
  os::FolderAccess& access_ = os::SystemFolders();
  WarnOnce reporter_;
  TreeSession session_;
  std::string rootPath_;                     // full path, '\' separators
  std::shared_ptr<os::FolderHandle> root_;   // held, never standing in the way
  uint64_t rootIdentity_ = 0;
  std::shared_ptr<os::FolderHandle> heldRoot_;  // checked ROOT, while a walk runs
  // The watch's line: the source and the poller feed the loop, whose filter
  // reads the registry of folders watched.
  std::unique_ptr<os::ChangeSource> source_;
  std::unique_ptr<Poller> poller_;
  std::unique_ptr<WatchRegistry> registry_;
  std::unique_ptr<WatchLoop> loop_;
  std::vector<os::FileStamp> aboveStamps_;
  bool reloadAbove_ = false;
  std::string watchProblem_;
  bool watching_ = false;
  std::set<std::string, NameLess> visited_;  // by the update in hand
  Outcome updated_;                          // of the update in hand
};

}  // namespace

Outcome RunWatch(const Options& options, Reporter& reporter, const StopToken& stop,
                 double pollSeconds) {
  try {
    Watcher watcher(options, pollSeconds, reporter, stop);
    return watcher.Run();
  } catch (const std::bad_alloc&) {
    // Out of memory outside an update (which ends the same way): nothing is
    // staged, the watcher is gone.
    return {kExitFailed, StopReason::OutOfMemory};
  }
}

}  // namespace tree
