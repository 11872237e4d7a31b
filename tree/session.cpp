#include "tree/session.h"

#include <cstdlib>
#include <new>

#include "platform/process_control.h"
#include "tree/console_reporter.h"
#include "tree/ignore_file.h"
#include "tree/root.h"
#include "tree/run_state.h"
#include "tree/skip_rules.h"
#include "tree/walker.h"

namespace tree {

// What a session holds once its run has begun.
class SessionRun {
 public:
  SessionRun(const Options& options, Reporter& reporter, os::FolderAccess& access,
             const TreeSession::FolderVisited& visited)
      : state_(options, reporter, access), walker_(state_, root_, visited) {}

  int Run() {
    const double start = os::Seconds();
    if (ResolveRoot(state_.options.root, state_.access, state_.reporter, &root_) != kExitDone) {
      return kExitUsage;
    }
    resolved_ = true;
    os::WatchInterrupts();
    std::vector<NamePattern> above;
    std::string problem;
    aboveLoaded_ = LoadIgnoreFilesAbove(root_.fullPath, &above, &problem);
    if (!aboveLoaded_) {
      ++state_.tally.folders;
      state_.Fail("", problem);
    } else {
      top_ = SkipRules::AtTop(state_.options.excludes, std::move(above), state_.options.hidden);
      std::shared_ptr<os::FolderHandle> root;
      if (const os::Dword error = OpenRoot(state_.access, &root_, &root)) {
        ++state_.tally.folders;
        state_.Fail("", CannotList(root_.shown, error));
      } else {
        reached_ = true;
        walker_.WalkAll(std::move(root), top_);
      }
    }
    state_.writer.Commit();
    state_.CheckEnd();
    state_.reporter.Summary(state_.tally, state_.options.check, os::Seconds() - start);
    if (state_.OutputFailed()) return kExitFailed;
    return Outcome(Tally{});
  }

  // held: ROOT open already, or null to open it by its path for each folder.
  int Update(const std::vector<TreeSession::Folder>& folders,
             const std::shared_ptr<os::FolderHandle>& held) {
    if (!resolved_ || !aboveLoaded_) return kExitUsage;
    const Tally before = state_.tally;
    for (const TreeSession::Folder& folder : folders) {
      state_.CheckEnd();
      std::shared_ptr<os::FolderHandle> root = held;
      // ROOT gone: nothing to write.
      if (!root && OpenRoot(state_.access, &root_, &root) != 0) continue;
      walker_.WalkTo(std::move(root), top_, folder.path, folder.subTree);
    }
    state_.writer.Commit();
    state_.CheckEnd();
    return Outcome(before);
  }

  bool ReloadAbove(std::string* problem) {
    if (!resolved_) return false;
    std::vector<NamePattern> above;
    aboveLoaded_ = LoadIgnoreFilesAbove(root_.fullPath, &above, problem);
    if (aboveLoaded_) {
      top_ = SkipRules::AtTop(state_.options.excludes, std::move(above), state_.options.hidden);
    }
    return aboveLoaded_;
  }

  bool Resolved() const { return resolved_; }
  bool Reached() const { return reached_; }
  const Root& root() const { return root_; }

 private:
  // A folder or manifest failed since before, or (checking) one was stale.
  int Outcome(const Tally& before) const {
    const Tally& now = state_.tally;
    if (now.failed > before.failed || (state_.options.check && now.changed > before.changed)) {
      return kExitFailed;
    }
    return kExitDone;
  }

  RunState state_;
  Root root_;
  Walker walker_;
  SkipRules::Shared top_;
  bool resolved_ = false;
  bool aboveLoaded_ = false;
  bool reached_ = false;
};

namespace {

// Memory the seam's back-end or the heap refused: unwound, so that the
// writer removes the temporary files of the batch in hand.
void ThrowOutOfMemory(size_t) { throw std::bad_alloc(); }

// Ends the run after memory ran out, once the run (and with it the batch in
// hand) is gone: every manifest is the old one or the complete new one.
[[noreturn]] void EndOutOfMemory(std::unique_ptr<SessionRun>* run, Reporter& reporter) {
  try {
    run->reset();
    reporter.Problem("out of memory; the manifests not yet written are as they were");
  } catch (...) {
    // Not even the message fits: the exit status still tells.
  }
  std::_Exit(kExitFailed);
}

}  // namespace

TreeSession::TreeSession(const Options& options, Reporter& reporter, os::FolderAccess& access)
    : options_(options), reporter_(reporter), access_(access) {}

TreeSession::~TreeSession() = default;

void TreeSession::OnFolderVisited(FolderVisited visited) { visited_ = std::move(visited); }

int TreeSession::Run() {
  os::SetOutOfMemoryHandler(&ThrowOutOfMemory);
  try {
    run_ = std::make_unique<SessionRun>(options_, reporter_, access_, visited_);
    return run_->Run();
  } catch (const std::bad_alloc&) {
    EndOutOfMemory(&run_, reporter_);
  }
}

int TreeSession::Update(const std::vector<Folder>& folders) { return Update(folders, nullptr); }

int TreeSession::Update(const std::vector<Folder>& folders,
                        std::shared_ptr<os::FolderHandle> root) {
  if (!run_ || !run_->Resolved()) return kExitUsage;
  try {
    return run_->Update(folders, root);
  } catch (const std::bad_alloc&) {
    EndOutOfMemory(&run_, reporter_);
  }
}

const Root* TreeSession::ResolvedRoot() const {
  return run_ && run_->Resolved() ? &run_->root() : nullptr;
}

bool TreeSession::Reached() const { return run_ && run_->Reached(); }

bool TreeSession::ReloadIgnoreFilesAbove(std::string* problem) {
  return run_ && run_->ReloadAbove(problem);
}

int RunTree(const Options& options) {
  ConsoleReporter reporter(options);
  TreeSession session(options, reporter);
  return session.Run();
}

}  // namespace tree
