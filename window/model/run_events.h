// A run presented to a window: each thing the run reports becomes an event
// value, queued by the thread that runs the walk or the watch and taken by
// the thread that draws, which applies it to the tree of rows.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tree/outcome.h"
#include "tree/reporter.h"

namespace window {

struct RunEvent {
  enum class Kind {
    Listed,     // folder, listed
    Current,    // folder, text: the shown manifest
    Written,    // folder, text: the shown manifest
    Stale,      // folder, text: the shown manifest, missing, changes
    Failed,     // folder, failure
    Noticed,    // notice
    Warned,     // folder, warning
    Leftover,   // text: the shown path of the file removed
    Progress,   // tally, checking
    Summary,    // tally, checking, seconds
    Stopped,
    Problem,    // problem
    Watching,   // text: the shown ROOT
    WatchNote,  // note
    Ended,      // outcome: how the run, the update or the watch ended
  };
  Kind kind;
  std::string folder;
  std::string text;
  std::string clock;  // HH:MM:SS when it happened
  bool missing = false;
  bool checking = false;
  tree::IncludeChanges changes;
  std::vector<tree::ListedFolder> listed;
  tree::Tally tally;
  double seconds = 0;
  tree::Outcome outcome;
  tree::Failure failure;
  tree::Warning warning;
  tree::RunProblem problem;
  tree::Note note;
  tree::Notice notice;
};

// The reporter a window's runs report to. Thread-safe: the run's thread
// adds, the window's thread takes. Progress events replace one another, so
// a long run queues at most one.
class EventQueue final : public tree::Reporter {
 public:
  using Clock = std::function<std::string()>;
  // woken: called (on the run's thread) when the queue was empty and is not,
  // so that the window's thread is told once per batch. clock: the time of
  // day for the log (the local time unless a test sets one).
  explicit EventQueue(std::function<void()> woken, Clock clock = {});

  // Everything queued so far, oldest first; the queue is then empty.
  std::vector<RunEvent> Take();

  void Listed(const std::string& folder, const std::vector<tree::ListedFolder>& subFolders) override;
  void Current(const std::string& folder, const std::string& shownManifest) override;
  void Written(const std::string& folder, const std::string& shownManifest) override;
  void Stale(const std::string& folder, const std::string& shownManifest, bool missing,
             const tree::IncludeChanges& changes) override;
  void Failed(const std::string& folder, const tree::Failure& why) override;
  void Noticed(const tree::Notice& notice) override;
  void Warned(const std::string& folder, const tree::Warning& warning) override;
  void LeftoverRemoved(const std::string& shownPath) override;
  void Progress(const tree::Tally& tally, bool checking) override;
  void Summary(const tree::Tally& tally, bool checking, double seconds) override;
  void Stopped() override;
  void Problem(const tree::RunProblem& why) override;
  void Watching(const std::string& shownRoot) override;
  void WatchNote(const tree::Note& note) override;
  // Not the run's own report: how it ended, queued by the thread that ran
  // it once it returned, after everything the run reported.
  void Ended(const tree::Outcome& outcome);

 private:
  void Push(RunEvent event);
  RunEvent Make(RunEvent::Kind kind, const std::string& folder = "", const std::string& text = "");

  std::function<void()> woken_;
  Clock clock_;
  std::mutex mutex_;
  std::vector<RunEvent> events_;
  size_t progressAt_ = SIZE_MAX;  // index of the queued Progress event, if any
};

// The local time of day as a watch's log lines begin.
std::string LocalClock();

}  // namespace window
