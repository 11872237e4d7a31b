#include "tree/watcher.h"

#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "generator/manifest_rule.h"
#include "platform/folder_access.h"
#include "platform/process_control.h"
#include "platform/tree_watch.h"
#include "tree/console_reporter.h"
#include "tree/ignore_file.h"
#include "tree/session.h"

namespace tree {
namespace {

// A folder relative to ROOT as the user sees it.
std::string Shown(const std::string& root, const std::string& folder) {
  if (folder.empty()) return root;
  std::string shown = root;
#ifdef _WIN32
  const char separator = '\\';
#else
  const char separator = '/';
#endif
  if (shown.back() != '/' && shown.back() != '\\') shown.push_back(separator);
  for (char c : folder) shown.push_back(c == '\\' ? separator : c);
  return shown;
}

class Watcher {
 public:
  Watcher(const Options& options, Reporter& reporter, const WatchStop* stop)
      : options_(options),
        shownRoot_(options.root.empty() ? std::string(".") : options.root),
        reporter_(reporter),
        stop_(stop),
        session_(options, reporter_) {
    session_.OnFolderVisited([this](const std::string& folder) { Visited(folder); });
  }

  int Run() {
    const std::string& shownRoot = shownRoot_;
    // Opened before the first run, so that what changes while it runs is
    // seen too.
    std::string& rootPath = rootPath_;
    os::Dword error = 0;
    if (os::FullPath(shownRoot, &rootPath, &error)) {
      std::string problem;
      bool limit = false;
      watch_ = os::tree::OpenTreeWatch(
          rootPath, &problem, &limit,
          {std::string(kIgnoreFileName),
           {std::string(gen::kZenterManifest), std::string(gen::kModManifest)}});
      if (watch_ == nullptr) {
        reporter_.Problem("cannot watch " + shownRoot + ": " + problem);
        return kExitFailed;
      }
    }
    const int status = session_.Run();
    // No ROOT to watch: the run has said why.
    if (status == kExitUsage || watch_ == nullptr) return status == kExitDone ? kExitFailed : status;
    if (CannotGoOn()) return kExitFailed;
    reporter_.Watching(shownRoot);
    watching_ = true;
    os::InterruptIsNormalEnd();
    for (;;) {
      if (Stopped()) return kExitDone;
      os::tree::WatchBatch batch;
      std::string problem;
      switch (watch_->Wait(&batch, &problem)) {
        case os::tree::WatchWait::Interrupted:
          return kExitDone;
        case os::tree::WatchWait::Failed:
          reporter_.Problem("stopped watching " + shownRoot + ": " + problem);
          return kExitFailed;
        case os::tree::WatchWait::Changes:
          break;
      }
      std::vector<TreeSession::Folder> folders;
      if (batch.rescanAll) {
        // Events were lost: every folder is looked at again, as a rerun
        // would.
        folders.push_back({"", true});
      } else {
        for (os::tree::FolderChange& change : batch.changes) {
          folders.push_back({std::move(change.folder), change.subTree});
        }
      }
      // Failures are reported as a run reports them and never end the watch.
      visited_.clear();
      session_.Update(folders);
      // What a sub-tree's update did not visit is gone, skipped now, or a
      // link now: no longer watched.
      for (const TreeSession::Folder& folder : folders) {
        if (!folder.subTree) continue;
        for (const std::string& watched : watch_->Watched(folder.path)) {
          if (visited_.count(watched) == 0) watch_->Forget(watched);
        }
      }
      if (CannotGoOn()) return kExitFailed;
      if (os::Interrupted() || Stopped()) return kExitDone;
      // Not every system tells a watch that its own folder went (Wine does
      // not): the removal of what was in it does.
      if (os::Os().GetFileAttributesA(rootPath_.c_str()) == os::kInvalidFileAttributes) {
        reporter_.Problem("stopped watching " + shownRoot + ": the folder was removed");
        return kExitFailed;
      }
    }
  }

 private:
  void Visited(const std::string& folder) {
    if (watching_) visited_.insert(folder);
    if (watch_ == nullptr || !watchProblem_.empty()) return;
    std::string problem;
    bool limit = false;
    if (watch_->Add(folder, &problem, &limit)) return;
    const std::string text = "cannot watch " + Shown(shownRoot_, folder) + ": " + problem;
    if (limit) {
      watchProblem_ = text;
    } else {
      // One folder the watch cannot see (no permission, say) costs only
      // that folder, as in a run.
      reporter_.Problem(text + "; changes there go unseen");
    }
  }

  bool Stopped() const { return stop_ != nullptr && stop_->Requested(); }

  // The system's limit of watches was reached: changes in every folder
  // after it would go unseen, so the watch ends rather than promise what it
  // cannot keep.
  bool CannotGoOn() {
    if (watchProblem_.empty()) return false;
    reporter_.Problem(watchProblem_);
    return true;
  }

  const Options& options_;
  const std::string shownRoot_;
  std::string rootPath_;  // full path, '\' separators
  Reporter& reporter_;
  const WatchStop* stop_;  // null: the console's watch, ended by Ctrl-C
  TreeSession session_;
  std::unique_ptr<os::tree::TreeWatch> watch_;
  std::string watchProblem_;
  bool watching_ = false;
  std::set<std::string> visited_;  // by the update in hand
};

}  // namespace

int RunWatch(const Options& options) {
  ConsoleReporter reporter(options);
  Watcher watcher(options, reporter, nullptr);
  return watcher.Run();
}

void WatchStop::Request() {
  requested_.store(true);
  os::tree::WakeTreeWatch();
}

int RunWatch(const Options& options, Reporter& reporter, const WatchStop& stop) {
  Watcher watcher(options, reporter, &stop);
  return watcher.Run();
}

}  // namespace tree
