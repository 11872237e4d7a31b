// The engine's runs as the window starts them: one at a time, on a thread
// of their own, so the window keeps answering while the walk works. A check
// (nothing written), an update (every missing or stale manifest written),
// or a watch that keeps the tree current until it is stopped. Each reports
// to the reporter it is given; when it ends, ended gets its exit status.
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "tree/options.h"
#include "tree/reporter.h"
#include "tree/watcher.h"

namespace window {

// What keeping a tree current needs: watch ROOT, reporting to a reporter,
// until stop is requested (from another thread; an update in hand finishes
// first). Over today's watcher: tree::RunWatch with a stop request.
class KeepCurrent {
 public:
  virtual ~KeepCurrent() = default;
  // Runs the watch (its first run included) until stopped; returns the
  // exit status.
  virtual int Watch(const tree::Options& options, tree::Reporter& reporter,
                    const tree::WatchStop& stop) = 0;
};

std::unique_ptr<KeepCurrent> WatchOverTreeWatcher();

class RunThread {
 public:
  enum class Job { Check, Update, Watch };
  using Ended = std::function<void(Job job, int status)>;

  RunThread(tree::Reporter& reporter, Ended ended,
            std::unique_ptr<KeepCurrent> keepCurrent = WatchOverTreeWatcher());
  // Stops a watch and waits for the run in hand to end.
  ~RunThread();

  // Starts a job unless one runs: false then.
  bool Start(Job job, const tree::Options& options);
  // Ends a watch; any other run goes on to its end.
  void StopWatch();
  // Waits for the run in hand, once it has ended or was told to.
  void Join();
  bool Busy() const { return busy_; }

 private:
  tree::Reporter& reporter_;
  Ended ended_;
  std::unique_ptr<KeepCurrent> keepCurrent_;
  std::unique_ptr<tree::WatchStop> stop_;  // the watch in hand's, made before it starts
  std::thread thread_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> watching_{false};
};

}  // namespace window
