// The watch's loop: waits on the change source, passes what arrives (and
// what the poller and the watch itself find) through the change filter into
// one batch, hands the batch out once its burst has gone quiet, and says
// when a tick is due. A tick is due at its time, whatever arrives. Time is
// read from the clock the loop is given.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/change_source.h"
#include "platform/process_control.h"
#include "tree/change_filter.h"

namespace tree {

class WatchRegistry;

// How long after the last change a batch is handed out, and the longest a
// stream of changes can hold one back.
constexpr double kQuietSeconds = 0.150;
constexpr double kLongestGatherSeconds = 3;

class WatchLoop {
 public:
  using Clock = std::function<double()>;  // seconds, on a steady clock
  enum class Next {
    Batch,        // *batch holds what to bring up to date
    Tick,         // a tick is due: look at what no system reports
    Interrupted,  // Ctrl-C, a signal, the console closing, a stop
    Failed,       // the watch cannot go on; *problem says why
  };

  // The first tick is due tickSeconds from now, the next ones every
  // tickSeconds after it.
  WatchLoop(os::ChangeSource& source, WatchRegistry& registry, double tickSeconds,
            Clock clock = os::Seconds);

  // Waits, using no CPU, for the next batch or tick.
  Next Wait(ChangeBatch* batch, std::string* problem);

  // The one way in for raw changes: the source's and the poller's alike.
  // False, with *problem set, when the watch cannot go on (ROOT went, the
  // source could not start over).
  bool Take(const std::vector<os::RawChange>& changes, std::string* problem);
  // A change the watch found itself.
  void Add(FolderChange change);

 private:
  void Noted(double now);
  void HandOut(ChangeBatch* batch);

  os::ChangeSource& source_;
  WatchRegistry& registry_;
  ChangeFilter filter_;
  const double tickSeconds_;
  Clock clock_;
  double nextTick_;
  ChangeBatch pending_;
  bool gathering_ = false;        // changes are pending since first_
  double first_ = 0, last_ = 0;  // the first and the last change pending
};

}  // namespace tree
