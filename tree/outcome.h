// How a run ends. The engine never ends the process: a stop (Ctrl-C, a
// signal, standard output failing, memory running out, or the window asking)
// abandons the batch in hand, its temporary files removed, and unwinds to
// the session, which returns an outcome with its reason. Only a front (the
// console's main, the window) decides what the process does with it.
#pragma once

#include <atomic>
#include <cstddef>

namespace tree {

enum class StopReason {
  None,          // the run went to its end
  Interrupted,   // Ctrl-C, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, the console closing
  OutputFailed,  // standard output took no more (a full disk, a closed pipe)
  OutOfMemory,
  Requested,     // the front asked (the window's Keep current turned off, the window closing)
};

// What a run, an update or a watch comes to: its exit status (kExitDone,
// kExitFailed, kExitUsage), and why it stopped early, if it did. A watch,
// which runs until it is stopped, ends with kExitDone and the reason when
// the stop finds it between batches; a stop that cuts a batch short comes
// with kExitFailed.
struct Outcome {
  int status = 0;
  StopReason stop = StopReason::None;

  bool operator==(const Outcome&) const = default;
};

// A stop asked from outside the run (another thread, a signal's flag seen by
// the front): the run checks it between folders and at every wait.
class StopToken {
 public:
  // Also wakes a watch's wait in progress.
  void Request(StopReason reason = StopReason::Requested);
  StopReason Reason() const { return reason_.load(); }
  bool Requested() const { return Reason() != StopReason::None; }

 private:
  std::atomic<StopReason> reason_{StopReason::None};
};

// What a front installs with os::SetOutOfMemoryHandler: memory the
// platform's back-end or the heap refuses raises std::bad_alloc, which the
// session turns into an outcome once the batch in hand is gone.
void UnwindOnOutOfMemory(size_t bytes);

}  // namespace tree
