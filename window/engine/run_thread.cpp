#include "window/engine/run_thread.h"

#include <new>

#include "platform/platform.h"
#include "tree/session.h"
#include "tree/watcher.h"

namespace window {
namespace {

class TreeWatcherKeepCurrent final : public KeepCurrent {
 public:
  tree::Outcome Watch(const tree::Options& options, tree::Reporter& reporter,
                      const tree::StopToken& stop) override {
    return tree::RunWatch(options, reporter, stop);
  }
};

}  // namespace

std::unique_ptr<KeepCurrent> WatchOverTreeWatcher() {
  return std::make_unique<TreeWatcherKeepCurrent>();
}

RunThread::RunThread(EventQueue& queue, Ended ended, std::unique_ptr<KeepCurrent> keepCurrent)
    : queue_(queue), ended_(std::move(ended)), keepCurrent_(std::move(keepCurrent)) {
  // Memory the back-end cannot have unwinds to the run, which says so and
  // ends; the window stays.
  os::SetOutOfMemoryHandler(&tree::UnwindOnOutOfMemory);
}

RunThread::~RunThread() {
  Stop();
  Join();
}

bool RunThread::Start(Job job, const tree::Options& given) {
  if (busy_) return false;
  Join();
  busy_ = true;
  // A stop asked of an earlier run must not end this one.
  stop_ = std::make_unique<tree::StopToken>();
  tree::Options options = given;
  options.check = job == Job::Check;
  thread_ = std::thread([this, job, options] {
    const tree::Outcome outcome = Run(job, options);
    try {
      queue_.Ended(outcome);
    } catch (const std::bad_alloc&) {
      // Not even that fits: the run has ended all the same.
    }
    busy_ = false;
    if (ended_) ended_(job, outcome.status);
  });
  return true;
}

tree::Outcome RunThread::Run(Job job, const tree::Options& options) {
  try {
    if (job == Job::Watch) return keepCurrent_->Watch(options, queue_, *stop_);
    tree::TreeSession session(options, queue_, os::SystemFolders(), stop_.get());
    return session.Run();
  } catch (const std::bad_alloc&) {
    // Out of memory outside the session's own steps (making it, say).
    return {tree::kExitFailed, tree::StopReason::OutOfMemory};
  }
}

void RunThread::Stop() {
  if (stop_ && busy_) stop_->Request();
}

void RunThread::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace window
