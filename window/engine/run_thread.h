// The engine's runs as the window starts them: one at a time, on a thread
// of their own, so the window keeps answering while the walk works. A check
// (nothing written), an update (every missing or stale manifest written),
// or a watch that keeps the tree current until it is stopped. Each reports
// to the queue it is given, and last how it ended (an outcome event: out of
// memory, a stop); then ended gets its exit status. Whatever happens to the
// run, the window's process goes on.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "tree/options.h"
#include "tree/outcome.h"
#include "tree/reporter.h"
#include "window/model/run_events.h"

namespace window {

// What keeping a tree current needs: watch ROOT, reporting to a reporter,
// until stop is requested (from another thread; an update in hand finishes
// first). The engine's tree::RunWatch, unless a test puts its own here.
class KeepCurrent {
 public:
  virtual ~KeepCurrent() = default;
  // Runs the watch (its first run included) until stopped.
  virtual tree::Outcome Watch(const tree::Options& options, tree::Reporter& reporter,
                              const tree::StopToken& stop) = 0;
};

std::unique_ptr<KeepCurrent> WatchOverTreeWatcher();

class RunThread {
 public:
  enum class Job { Check, Update, Watch };
  using Ended = std::function<void(Job job, int status)>;

  RunThread(EventQueue& queue, Ended ended,
            std::unique_ptr<KeepCurrent> keepCurrent = WatchOverTreeWatcher());
  // Stops the run in hand and waits for it to end.
  ~RunThread();

  // Starts a job unless one runs: false then.
  bool Start(Job job, const tree::Options& options);
  // Asks the run in hand to stop, as Ctrl-C stops the tree tool: a check or
  // an update at its next folder, a watch in the midst of its batch; the
  // batch in hand is abandoned and its temporary files removed. Returns at
  // once; ended tells when it has stopped.
  void Stop();
  // Waits for the run in hand, once it has ended or was told to.
  void Join();
  bool Busy() const { return busy_; }

 private:
  tree::Outcome Run(Job job, const tree::Options& options);

  EventQueue& queue_;
  Ended ended_;
  std::unique_ptr<KeepCurrent> keepCurrent_;
  std::unique_ptr<tree::StopToken> stop_;  // the run in hand's, made before it starts
  std::thread thread_;
  std::atomic<bool> busy_{false};
};

}  // namespace window
