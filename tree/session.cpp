#include "tree/session.h"

#include <new>

#include "platform/process_control.h"
#include "tree/ignore_file.h"
#include "tree/report_words.h"
#include "tree/root.h"
#include "tree/skip_rules.h"
#include "tree/walk_context.h"
#include "tree/walker.h"

namespace tree {

// What a session holds once ROOT is to be opened: the run's shared context,
// ROOT, the walker and the skip rules at ROOT.
class SessionWalk {
 public:
  SessionWalk(const Options& options, Reporter& reporter, os::FolderAccess& access,
              const StopToken* stop, const TreeSession::FolderVisited& visited,
              const TreeSession::FolderListed& listed)
      : context_(options, reporter, access, stop), walker_(context_, root_, visited, listed) {}

  Outcome Open() {
    start_ = os::Seconds();
    if (ResolveRoot(context_.options.root, context_.access, context_.reporter, &root_) !=
        kExitDone) {
      return {kExitUsage};
    }
    resolved_ = true;
    return {kExitDone};
  }

  Outcome Run() {
    if (!resolved_) return {kExitUsage};
    std::vector<NamePattern> above;
    Failure problem;
    aboveLoaded_ = LoadIgnoreFilesAbove(root_.fullPath, &above, &problem);
    if (!aboveLoaded_) {
      ++context_.tally.folders;
      context_.Fail("", problem);
    } else {
      top_ = SkipRules::AtTop(context_.options.excludes, std::move(above), context_.options.hidden);
      if (!root_.handle) {
        ++context_.tally.folders;
        context_.Fail("", Failure(FailCode::CannotList, {root_.shown}, root_.openError));
      } else {
        reached_ = true;
        walker_.WalkAll(std::move(root_.handle), top_);
      }
    }
    root_.handle.reset();  // not held beyond the run: a folder held cannot be renamed on Windows
    context_.writer.Commit();
    context_.CheckStop();
    context_.reporter.Summary(context_.tally, context_.options.check, os::Seconds() - start_);
    if (context_.OutputFailed()) return {kExitFailed, StopReason::OutputFailed};
    return Finished(Tally{});
  }

  // held: ROOT open already, or null to open it by its path for each folder.
  Outcome Update(const std::vector<TreeSession::Folder>& folders,
                 const std::shared_ptr<os::FolderHandle>& held) {
    if (!resolved_ || !aboveLoaded_) return {kExitUsage};
    const Tally before = context_.tally;
    for (const TreeSession::Folder& folder : folders) {
      context_.CheckStop();
      std::shared_ptr<os::FolderHandle> root = held;
      // ROOT gone: nothing to write.
      if (!root && OpenRoot(context_.access, &root_, &root) != 0) continue;
      walker_.WalkTo(std::move(root), top_, folder.path, folder.subTree);
    }
    context_.writer.Commit();
    context_.CheckStop();
    return Finished(before);
  }

  bool ReloadAbove(Failure* problem) {
    if (!resolved_) return false;
    std::vector<NamePattern> above;
    aboveLoaded_ = LoadIgnoreFilesAbove(root_.fullPath, &above, problem);
    if (aboveLoaded_) {
      top_ = SkipRules::AtTop(context_.options.excludes, std::move(above), context_.options.hidden);
    }
    return aboveLoaded_;
  }

  bool Resolved() const { return resolved_; }
  bool Reached() const { return reached_; }
  const Root& root() const { return root_; }

 private:
  // Done; failed when a folder or manifest failed since before, or
  // (checking) one was stale.
  Outcome Finished(const Tally& before) const {
    const Tally& now = context_.tally;
    if (now.failed > before.failed || (context_.options.check && now.changed > before.changed)) {
      return {kExitFailed};
    }
    return {kExitDone};
  }

  WalkContext context_;
  Root root_;
  Walker walker_;
  SkipRules::Shared top_;
  double start_ = 0;
  bool resolved_ = false;
  bool aboveLoaded_ = false;
  bool reached_ = false;
};

namespace {

// A step of the session, with its stops turned into the outcome. A stop ends
// the session: the walk (and with it the batch in hand, whose temporary
// files go) is gone before the outcome is returned, so every manifest is
// the old one or the complete new one.
template <typename Step>
Outcome Guarded(std::unique_ptr<SessionWalk>* walk, Step step) {
  try {
    return step(**walk);
  } catch (const WalkStopped& stopped) {
    walk->reset();
    return {kExitFailed, stopped.reason};
  } catch (const std::bad_alloc&) {
    walk->reset();
    return {kExitFailed, StopReason::OutOfMemory};
  }
}

}  // namespace

TreeSession::TreeSession(const Options& options, Reporter& reporter, os::FolderAccess& access,
                         const StopToken* stop)
    : options_(options), reporter_(reporter), access_(access), stop_(stop) {}

TreeSession::~TreeSession() = default;

void TreeSession::OnFolderVisited(FolderVisited visited) { visited_ = std::move(visited); }

void TreeSession::OnFolderListed(FolderListed listed) { listed_ = std::move(listed); }

Outcome TreeSession::Open() {
  try {
    walk_ = std::make_unique<SessionWalk>(options_, reporter_, access_, stop_, visited_, listed_);
  } catch (const std::bad_alloc&) {
    return {kExitFailed, StopReason::OutOfMemory};
  }
  return Guarded(&walk_, [](SessionWalk& walk) { return walk.Open(); });
}

Outcome TreeSession::Run() {
  if (!walk_) {
    const Outcome opened = Open();
    if (opened.status != kExitDone || opened.stop != StopReason::None) return opened;
  }
  return Guarded(&walk_, [](SessionWalk& walk) { return walk.Run(); });
}

Outcome TreeSession::Update(const std::vector<Folder>& folders) { return Update(folders, nullptr); }

Outcome TreeSession::Update(const std::vector<Folder>& folders,
                            std::shared_ptr<os::FolderHandle> root) {
  if (!walk_ || !walk_->Resolved()) return {kExitUsage};
  return Guarded(&walk_, [&](SessionWalk& walk) { return walk.Update(folders, root); });
}

const Root* TreeSession::ResolvedRoot() const {
  return walk_ && walk_->Resolved() ? &walk_->root() : nullptr;
}

bool TreeSession::Reached() const { return walk_ && walk_->Reached(); }

bool TreeSession::ReloadIgnoreFilesAbove(Failure* problem) {
  return walk_ && walk_->ReloadAbove(problem);
}

}  // namespace tree
