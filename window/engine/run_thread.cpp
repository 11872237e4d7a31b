#include "window/engine/run_thread.h"

#include "tree/session.h"

namespace window {
namespace {

class TreeWatcherKeepCurrent final : public KeepCurrent {
 public:
  int Watch(const tree::Options& options, tree::Reporter& reporter,
            const tree::WatchStop& stop) override {
    return tree::RunWatch(options, reporter, stop);
  }
};

}  // namespace

std::unique_ptr<KeepCurrent> WatchOverTreeWatcher() {
  return std::make_unique<TreeWatcherKeepCurrent>();
}

RunThread::RunThread(tree::Reporter& reporter, Ended ended, std::unique_ptr<KeepCurrent> keepCurrent)
    : reporter_(reporter), ended_(std::move(ended)), keepCurrent_(std::move(keepCurrent)) {}

RunThread::~RunThread() {
  StopWatch();
  Join();
}

bool RunThread::Start(Job job, const tree::Options& given) {
  if (busy_) return false;
  Join();
  busy_ = true;
  watching_ = job == Job::Watch;
  // A stop asked of an earlier watch must not end this one.
  stop_ = std::make_unique<tree::WatchStop>();
  tree::Options options = given;
  options.check = job == Job::Check;
  options.quiet = true;
  thread_ = std::thread([this, job, options] {
    int status = tree::kExitFailed;
    if (job == Job::Watch) {
      status = keepCurrent_->Watch(options, reporter_, *stop_);
    } else {
      tree::TreeSession session(options, reporter_);
      status = session.Run();
    }
    watching_ = false;
    busy_ = false;
    if (ended_) ended_(job, status);
  });
  return true;
}

void RunThread::StopWatch() {
  if (watching_ && stop_) stop_->Request();
}

void RunThread::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace window
