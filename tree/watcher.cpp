#include "tree/watcher.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <optional>
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

// How often, at the longest, the watch looks at ROOT, at the ignore files
// above it, at the folders it could not list and at the links it holds: no
// system tells a watch of those. A poll pass, by default, comes as often.
constexpr double kTickSeconds = 2;

// The links among a folder's entries, with what decides its manifest: whether
// each leads to a folder (and whether that is hidden or a system folder).
using Links = std::vector<std::pair<std::string, os::Dword>>;
Links LinksOf(const std::vector<os::ListedEntry>& entries) {
  constexpr os::Dword kDeciding =
      os::kAttrDirectory | os::kAttrLink | os::kAttrHidden | os::kAttrSystem;
  Links links;
  for (const os::ListedEntry& entry : entries) {
    if ((entry.attributes & os::kAttrLink) != 0) {
      links.emplace_back(entry.name, entry.attributes & kDeciding);
    }
  }
  return links;
}

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
    session_.OnFolderListed([this](const std::string& folder,
                                   const std::vector<os::ListedEntry>& entries) {
      // A folder that held links stays looked at: under Wine a link that
      // leads nowhere is not listed at all, and may lead somewhere again.
      if (Links links = LinksOf(entries); !links.empty() || links_.count(folder) != 0) {
        links_[folder] = std::move(links);
      }
    });
    reporter_.OnFailed([this](const std::string& folder) { FailedFolder(folder); });
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
      reporter_.Problem(RunProblem(ProblemCode::WatchUnworkable, {shownRoot_}));
      return {kExitFailed};
    }
    if (CannotGoOn()) return {kExitFailed};
    StampIgnoreFilesAbove();
    reporter_.Watching(shownRoot_);
    watching_ = true;
    registry_->Begin();
    // A pass every --poll seconds, in whole ticks no longer than
    // kTickSeconds, so that ROOT is looked at as often however rarely the
    // watch polls.
    const double passEvery = pollSeconds_ > 0 ? pollSeconds_ : kTickSeconds;
    ticksPerPass_ = std::max(1, static_cast<int>(std::ceil(passEvery / kTickSeconds - 1e-9)));
    ticksToPass_ = ticksPerPass_;
    loop_ = std::make_unique<WatchLoop>(*source_, *registry_, passEvery / ticksPerPass_);
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
      reporter_.Problem(RunProblem(ProblemCode::CannotWatch, {shownRoot_, problem}));
      return false;
    }
    // One case rule for every name the watch keeps: the source's.
    const NameCase rule = source_->Traits().namesAnyCase ? NameCase::Any : NameCase::Exact;
    poller_ = std::make_unique<Poller>(access_, rule);
    registry_ = std::make_unique<WatchRegistry>(*source_, *poller_);
    visited_ = std::set<std::string, NameLess>(NameLess{rule});
    unreadable_ = std::set<std::string, NameLess>(NameLess{rule});
    links_ = std::map<std::string, Links, NameLess>(NameLess{rule});
    rule_ = rule;
    return true;
  }

  // ROOT, as the session resolved it, open for the first run (whether it
  // could be), its identity and those of the folders above it taken. The
  // watch holds nothing open between its looks, so that nothing stands in
  // the way of ROOT's being renamed, removed or unmounted.
  bool HoldRoot() {
    rootPath_ = session_.ResolvedRoot()->fullPath;
    auto root = std::make_shared<os::FolderHandle>();
    if (access_.OpenToKeep(rootPath_, root.get()) != 0) return false;
    heldRoot_ = root;
    rootIdentity_ = access_.Identity(*root);
    above_ = FoldersAbove(rootPath_);
    for (const std::string& folder : above_) {
      os::FolderHandle handle;
      aboveIdentities_.push_back(access_.OpenToKeep(folder, &handle) == 0 ? access_.Identity(handle) : 0);
    }
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
    *problem = WhatBecameOfRoot();
    return nullptr;
  }

  // What became of ROOT, as the folders above it tell: the deepest of them
  // that is still the folder it was either holds the next one down under
  // some name (ROOT, or a folder above it, was moved or renamed) or does not
  // (removed; moved out of it looks the same from here).
  std::string WhatBecameOfRoot() {
    std::vector<std::string> chain = above_;
    chain.push_back(rootPath_);
    std::vector<uint64_t> identities = aboveIdentities_;
    identities.push_back(rootIdentity_);
    for (size_t i = chain.size() - 1; i-- > 0;) {
      os::FolderHandle folder;
      if (identities[i] == 0 || access_.OpenToKeep(chain[i], &folder) != 0 ||
          access_.Identity(folder) != identities[i]) {
        continue;
      }
      return std::string(HoldsFolder(folder, identities[i + 1]) ? kRootMoved : kRootRemoved);
    }
    return std::string(kRootMoved);
  }

  // Whether the open folder holds, under any name, the folder of identity.
  bool HoldsFolder(const os::FolderHandle& folder, uint64_t identity) {
    std::vector<os::ListedEntry> entries;
    if (access_.List(folder, &entries) != 0) return false;
    for (const os::ListedEntry& entry : entries) {
      if ((entry.attributes & os::kAttrDirectory) == 0 || (entry.attributes & os::kAttrLink) != 0) continue;
      os::FolderHandle sub;
      if (access_.OpenSub(folder, entry.name, entry.fileId, &sub) == 0 && access_.Identity(sub) == identity) return true;
    }
    return false;
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
    reporter_.Problem(RunProblem(ProblemCode::StoppedWatching, {shownRoot_, problem}));
    return {kExitFailed};
  }

  bool Stopped() const { return stop_.Requested(); }

  // Every tick: ROOT still there, the ignore files above it, the folders
  // that could not be listed, the links, and when due a poll of what
  // notifications cannot follow, whose findings take the source's way in.
  // False, with *problem set, when the watch cannot go on.
  bool Tick(std::string* problem) {
    const std::shared_ptr<os::FolderHandle> root = CheckRoot(problem);
    if (!root) return false;
    if (StampIgnoreFilesAbove()) {
      reloadAbove_ = true;
      loop_->Add({"", true});
    }
    TryUnreadable(*root);
    LookAtLinks(*root);
    if (--ticksToPass_ > 0 || poller_->Empty()) return true;
    ticksToPass_ = ticksPerPass_;
    std::vector<os::RawChange> found;
    poller_->Pass(*root, &found);
    return loop_->Take(found, problem);
  }

  // Takes the stamps of the ignore files above ROOT, in the very folders
  // the run reads them from: whether one changed, or may have changed
  // unseen within its time's tick.
  bool StampIgnoreFilesAbove() {
    const int64_t takenAt = StampTime();
    std::vector<os::FileStamp> stamps;
    for (const std::string& folder : above_) {
      os::FolderHandle handle;
      os::FileStamp stamp;
      if (access_.OpenToKeep(folder, &handle) == 0) access_.Stamp(handle, kIgnoreFileName, &stamp);
      stamps.push_back(stamp);
    }
    bool moved = stamps != aboveStamps_;
    for (const os::FileStamp& was : aboveStamps_) moved = moved || MayHideAChange(was, aboveTakenAt_);
    aboveStamps_ = std::move(stamps);
    aboveTakenAt_ = takenAt;
    return moved;
  }

  // A folder that failed because it could not be listed (made unreadable)
  // is tried again at every tick, since a polled file system tells nothing
  // when it becomes readable again, and its whole sub-tree is looked at
  // then, since what was made in it meanwhile was never watched.
  void FailedFolder(const std::string& folder) {
    os::FolderHandle handle;
    if (heldRoot_ && access_.OpenBeneath(*heldRoot_, folder, &handle) == os::kErrorAccessDenied) {
      unreadable_.insert(folder);
    }
  }

  void TryUnreadable(const os::FolderHandle& root) {
    for (auto it = unreadable_.begin(); it != unreadable_.end();) {
      os::FolderHandle handle;
      const os::Dword error = access_.OpenBeneath(root, *it, &handle);
      if (error == os::kErrorAccessDenied) {
        ++it;
        continue;
      }
      if (error == 0) loop_->Add({*it, true});
      // Else gone, or a link now: its parent's changes tell.
      it = unreadable_.erase(it);
    }
  }

  // Whether a link leads to a folder decides its parent's manifest, and no
  // system tells when what it leads to moves or goes: each folder holding
  // links is listed again at every tick, and redone when they changed.
  void LookAtLinks(const os::FolderHandle& root) {
    for (auto it = links_.begin(); it != links_.end();) {
      os::FolderHandle handle;
      std::vector<os::ListedEntry> entries;
      if (access_.OpenBeneath(root, it->first, &handle) != 0 || access_.List(handle, &entries) != 0) {
        it = links_.erase(it);  // its own update, or its parent's, tells
        continue;
      }
      if (LinksOf(entries) != it->second) loop_->Add({it->first, false});
      ++it;
    }
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
      Failure unusable;
      if (!session_.ReloadIgnoreFilesAbove(&unusable)) {
        // ROOT fails, as it does when the first run cannot take them.
        reporter_.Failed("", unusable);
        *problem = "an ignore file above it cannot be used";
        return false;
      }
    }
    std::vector<TreeSession::Folder> folders;
    if (batch.rescanAll) {
      // Changes were lost: every folder is looked at again, as a rerun
      // would.
      folders.push_back({"", true});
      unreadable_.clear();
    } else {
      for (const FolderChange& change : batch.changes) {
        TreeSession::Folder folder{change.folder, change.subTree};
        // One that could not be listed: whatever was made in it meanwhile.
        if (unreadable_.erase(folder.path) != 0) folder.subTree = true;
        if (folder.subTree) {
          std::erase_if(unreadable_, [&](const std::string& f) { return below::Within(f, folder.path, rule_); });
        }
        folders.push_back(std::move(folder));
      }
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
        if (visited_.count(watched) != 0) continue;
        registry_->Forget(watched);
        links_.erase(watched);
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
        reporter_.Failed(folder.path, Failure(FailCode::CannotList, {ShownFolder(folder.path)}, error));
      }
    }
  }

  std::string ShownFolder(const std::string& folder) const { return ShownBelow(shownRoot_, folder); }

  // A folder the walk visits: watched, and polled where it must be, through
  // the walk's own handle (opened beneath ROOT without following a link), so
  // that the watch needs no descriptor of its own for it.
  void Visited(const std::string& folder, const os::FolderHandle& handle) {
    if (watching_) visited_.insert(folder);
    if (!heldRoot_ || watchLimit_) return;
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
        watchLimit_ = RunProblem(ProblemCode::CannotWatch, {ShownFolder(folder), problem});
        return;
      case os::WatchStart::Failed:
        // One folder the watch cannot see (no permission, say) costs only
        // that folder, as in a run; it is tried again when it changes.
        reporter_.WatchNote(Note(NoteCode::CannotWatch, {ShownFolder(folder), problem}));
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
      reporter_.WatchNote(Note(NoteCode::PollingUnseen, {ShownFolder(folder), reason}));
    } else if (folder.empty()) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", pollSeconds_);
      reporter_.WatchNote(Note(NoteCode::PollingAsAsked, {shownRoot_, seconds}));
    }
  }

  // The system's limit of watches was reached: changes in every folder
  // after it would go unseen, so the watch ends rather than promise what it
  // cannot keep.
  bool CannotGoOn() {
    if (!watchLimit_) return false;
    reporter_.Problem(*watchLimit_);
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
  uint64_t rootIdentity_ = 0;
  std::vector<std::string> above_;           // the folders above ROOT, top down
  std::vector<uint64_t> aboveIdentities_;    // as the watch began; 0: not known
  std::shared_ptr<os::FolderHandle> heldRoot_;  // checked ROOT, while a walk runs
  // The watch's line: the source and the poller feed the loop, whose filter
  // reads the registry of folders watched.
  std::unique_ptr<os::ChangeSource> source_;
  std::unique_ptr<Poller> poller_;
  std::unique_ptr<WatchRegistry> registry_;
  std::unique_ptr<WatchLoop> loop_;
  std::vector<os::FileStamp> aboveStamps_;
  int64_t aboveTakenAt_ = 0;
  int ticksPerPass_ = 1, ticksToPass_ = 1;  // a poll pass every so many ticks
  NameCase rule_ = NameCase::Exact;         // the source's
  std::set<std::string, NameLess> unreadable_;  // folders that could not be listed
  std::map<std::string, Links, NameLess> links_;  // folders holding links, as last listed
  bool reloadAbove_ = false;
  std::optional<RunProblem> watchLimit_;  // the system's limit of watches was reached
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
