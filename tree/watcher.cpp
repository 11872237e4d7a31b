#include "tree/watcher.h"

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "rules/manifest_rule.h"
#include "platform/change_source.h"
#include "platform/console.h"
#include "platform/folder_access.h"
#include "platform/path_parts.h"
#include "platform/process_control.h"
#include "tree/change_filter.h"
#include "tree/console_reporter.h"
#include "tree/ignore_file.h"
#include "tree/poller.h"
#include "tree/run_state.h"
#include "tree/session.h"

namespace tree {
namespace {

// How often the watch looks at ROOT and at the ignore files above it when
// it polls nothing: no system tells a watch of those.
constexpr double kTickSeconds = 2;

// The console, with each folder's warnings said once for as long as they
// hold: a watch updates a folder again and again, and a warning that holds
// (a "Data" folder's manifest that no run writes, a name left out) is news
// only the first time, and again once it has changed.
class WarnOnce final : public Reporter {
 public:
  explicit WarnOnce(Reporter& presenter) : presenter_(presenter) {}

  void Listed(const std::string& folder, const std::vector<ListedFolder>& subFolders) override {
    presenter_.Listed(folder, subFolders);
  }
  void Current(const std::string& folder) override {
    Settled(folder);
    presenter_.Current(folder);
  }
  void Written(const std::string& folder, const std::string& shownManifest) override {
    Settled(folder);
    presenter_.Written(folder, shownManifest);
  }
  void Stale(const std::string& folder, const std::string& shownManifest, bool missing,
             const IncludeChanges& changes) override {
    presenter_.Stale(folder, shownManifest, missing, changes);
  }
  void Failed(const std::string& folder, const std::string& text) override {
    Settled(folder);
    presenter_.Failed(folder, text);
  }
  void Noticed(const std::string& text) override { presenter_.Noticed(text); }
  void Warned(const std::string& folder, const std::string& text) override {
    pending_[folder].insert(text);
    const auto said = said_.find(folder);
    if (said == said_.end() || said->second.count(text) == 0) presenter_.Warned(folder, text);
  }
  void LeftoverRemoved(const std::string& shownPath) override { presenter_.LeftoverRemoved(shownPath); }
  void Progress(const Tally& tally, bool checking) override { presenter_.Progress(tally, checking); }
  void Summary(const Tally& tally, bool checking, double seconds) override {
    presenter_.Summary(tally, checking, seconds);
  }
  void Stopped() override { presenter_.Stopped(); }
  void Problem(const std::string& text) override { presenter_.Problem(text); }
  void Watching(const std::string& shownRoot) override { presenter_.Watching(shownRoot); }
  void WatchNote(const std::string& text) override { presenter_.WatchNote(text); }

 private:
  // The folder's update is over: what it warned of is what holds now.
  void Settled(const std::string& folder) {
    const auto pending = pending_.find(folder);
    if (pending == pending_.end()) {
      said_.erase(folder);
      return;
    }
    said_[folder] = std::move(pending->second);
    pending_.erase(pending);
  }

  Reporter& presenter_;  // the console, or a window
  std::map<std::string, std::set<std::string>> pending_;  // by the update in hand
  std::map<std::string, std::set<std::string>> said_;
};

class Watcher {
 public:
  Watcher(const Options& options, double pollSeconds, Reporter& presenter,
          const WatchStop* stop)
      : shownRoot_(options.root.empty() ? std::string(".") : options.root),
        pollSeconds_(pollSeconds),
        stop_(stop),
        reporter_(presenter),
        session_(options, reporter_, access_),
        poller_(access_) {
    session_.OnFolderVisited(
        [this](const std::string& folder, const os::FolderHandle& handle) { Visited(folder, handle); });
  }

  int Run() {
    // Opened before the first run, so that what changes while it runs is
    // seen too.
    if (!OpenSource()) return kExitFailed;
    const int status = session_.Run();
    heldRoot_.reset();
    if (status == kExitUsage) return status;  // no ROOT to watch: the run has said why
    // Standard output failed: the run has said so.
    if (os::OutputError() != 0) return kExitFailed;
    if (!session_.Reached() || source_ == nullptr) {
      reporter_.Problem("cannot watch " + shownRoot_ + ": the run could not work in it");
      return kExitFailed;
    }
    if (CannotGoOn()) return kExitFailed;
    StampIgnoreFilesAbove();
    reporter_.Watching(shownRoot_);
    watching_ = true;
    os::InterruptIsNormalEnd();
    return Watch();
  }

 private:
  // False after saying why when ROOT is there but cannot be watched; with
  // no ROOT to watch (none, or no folder), the first run says why.
  bool OpenSource() {
    os::Dword error = 0;
    if (!os::FullPath(shownRoot_, &rootPath_, &error)) return true;
    auto root = std::make_shared<os::FolderHandle>();
    if (access_.OpenToKeep(rootPath_, root.get()) != 0) return true;
    root_ = root;
    rootIdentity_ = access_.Identity(*root_);
    std::string problem;
    bool limit = false;
    source_ = os::OpenChangeSource(rootPath_, &problem, &limit);
    if (source_ == nullptr) {
      reporter_.Problem("cannot watch " + shownRoot_ + ": " + problem);
      return false;
    }
    filter_ = std::make_unique<ChangeFilter>(source_->Traits(), [this](const std::string& folder) {
      source_->Unwatch(folder);
      poller_.Forget(folder);
    });
    heldRoot_ = root_;
    return true;
  }

  // Batch after batch until interrupted or the watch breaks: the exit status.
  int Watch() {
    ChangeFilter::Tick tick{pollSeconds_ > 0 ? pollSeconds_ : kTickSeconds,
                            [this](std::string* problem) { return Tick(problem); }};
    for (;;) {
      if (Stopped()) return kExitDone;
      ChangeBatch batch;
      std::string problem;
      waited_ = true;
      switch (filter_->NextBatch(*source_, &batch, &problem, &tick)) {
        case os::ChangeWait::Interrupted:
          return kExitDone;
        case os::ChangeWait::Failed:
          reporter_.Problem("stopped watching " + shownRoot_ + ": " + problem);
          return kExitFailed;
        default:
          break;
      }
      if (!Apply(batch, &problem)) {
        reporter_.Problem("stopped watching " + shownRoot_ + ": " + problem);
        return kExitFailed;
      }
      if (CannotGoOn()) return kExitFailed;
      if (os::Interrupted() || Stopped()) return kExitDone;
    }
  }

  bool Stopped() const { return stop_ != nullptr && stop_->Requested(); }

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

  // Every tick: ROOT still there, the ignore files above it, and a poll of
  // what notifications cannot follow.
  bool Tick(std::string* problem) {
    const std::shared_ptr<os::FolderHandle> root = CheckRoot(problem);
    if (!root) return false;
    if (StampIgnoreFilesAbove()) {
      reloadAbove_ = true;
      filter_->Add({"", true});
    }
    if (!poller_.Empty()) {
      poller_.Pass(*root, [this](FolderChange change) { filter_->Add(std::move(change)); });
    }
    return true;
  }

  // Takes the stamps of the ignore files above ROOT, up to the file
  // system's root: whether one changed.
  bool StampIgnoreFilesAbove() {
    std::vector<os::FileStamp> stamps;
    for (std::string_view at = os::PathParent(rootPath_);; at = os::PathParent(at)) {
      // "" above "\home" is the root "\"; "C:" is the drive's root "C:\".
      std::string folder(at);
      if (folder.empty() || (folder.size() == 2 && folder[1] == ':')) folder.push_back('\\');
      os::FolderHandle handle;
      os::FileStamp stamp;
      if (access_.OpenToKeep(folder, &handle) == 0) access_.Stamp(handle, kIgnoreFileName, &stamp);
      stamps.push_back(stamp);
      if (folder.back() == '\\') break;
    }
    const bool moved = stamps != aboveStamps_;
    aboveStamps_ = std::move(stamps);
    return moved;
  }

  // Brings the folders of a batch up to date, through ROOT checked to be
  // the folder watched. Failures are reported as a run reports them and
  // never end the watch. False, with *problem set, when the watch cannot go
  // on.
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
    session_.Update(folders, heldRoot_);
    ReportUnreached(folders);
    heldRoot_.reset();
    // What a sub-tree's update did not visit is gone, skipped now, or a
    // link now: no longer watched.
    for (const TreeSession::Folder& folder : folders) {
      if (!folder.subTree) continue;
      for (const std::string& watched : filter_->Watched(folder.path)) {
        if (visited_.count(watched) == 0) filter_->Forget(watched);
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

  // A folder the walk visits: watched, and polled where it must be, through
  // the walk's own handle (opened beneath ROOT without following a link), so
  // that the watch needs no descriptor of its own for it.
  void Visited(const std::string& folder, const os::FolderHandle& handle) {
    if (watching_) visited_.insert(folder);
    if (!heldRoot_ || !watchProblem_.empty()) return;
    const uint64_t identity = access_.Identity(handle);
    const uint64_t known = filter_->IdentityOf(folder);
    if (known != identity) {
      // Another folder at a known path (a file system mounted there): what
      // was known beneath it holds no more.
      if (known != 0) filter_->Forget(folder);
      StartWatching(folder, handle, identity);
    } else if (!poller_.Polls(folder)) {
      return;
    }
    Poll(folder, handle);
  }

  void StartWatching(const std::string& folder, const os::FolderHandle& handle,
                     uint64_t identity) {
    std::string problem;
    switch (source_->Watch(folder, handle, &problem)) {
      case os::WatchStart::Started:
        filter_->Watching(folder, identity);
        // It may have changed before its watch began: a folder moved in
        // brings many at once, and one walk looks at them all again.
        if (waited_) filter_->Add({folder, true});
        return;
      case os::WatchStart::Known:
        // Reached by another path too (a bind mount): watched once.
        filter_->Watching(folder, identity);
        return;
      case os::WatchStart::Gone:
        return;  // its parent's changes tell
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
    const bool polled = poller_.Polls(folder);
    std::string reason;
    if (!polled && pollSeconds_ == 0) {
      reason = os::UnreportedChangesReason(handle);
      if (reason.empty()) return;
    }
    const std::string name =
        folder.empty() ? session_.ResolvedRoot()->name : std::string(os::PathLastName(folder));
    poller_.Add(folder, handle, rules::ManifestNameFor(name));
    if (polled || (!folder.empty() && poller_.Polls(std::string(os::PathParent(folder))))) return;
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
  const WatchStop* stop_;  // null: the console's watch, ended by Ctrl-C
  os::FolderAccess& access_ = os::SystemFolders();
  WarnOnce reporter_;
  TreeSession session_;
  Poller poller_;
  std::string rootPath_;                     // full path, '\' separators
  std::shared_ptr<os::FolderHandle> root_;   // held, never standing in the way
  uint64_t rootIdentity_ = 0;
  std::shared_ptr<os::FolderHandle> heldRoot_;  // checked ROOT, while a walk runs
  std::unique_ptr<os::ChangeSource> source_;
  std::unique_ptr<ChangeFilter> filter_;
  std::vector<os::FileStamp> aboveStamps_;
  bool reloadAbove_ = false;
  std::string watchProblem_;
  bool watching_ = false;
  bool waited_ = false;  // a batch has been waited for: new folders are checked again
  std::set<std::string> visited_;  // by the update in hand
};

}  // namespace

int RunWatch(const Options& options, double pollSeconds) {
  ConsoleReporter console(options);
  Watcher watcher(options, pollSeconds, console, nullptr);
  return watcher.Run();
}

void WatchStop::Request() {
  requested_.store(true);
  os::WakeChangeWait();
}

int RunWatch(const Options& options, Reporter& reporter, const WatchStop& stop) {
  Watcher watcher(options, 0, reporter, &stop);
  return watcher.Run();
}

}  // namespace tree
