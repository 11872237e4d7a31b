#include "window/model/run_events.h"

#include "tree/report_words.h"

namespace window {

std::string LocalClock() { return tree::TimeOfDay(); }

EventQueue::EventQueue(std::function<void()> woken, Clock clock)
    : woken_(std::move(woken)), clock_(clock ? std::move(clock) : Clock(&LocalClock)) {}

std::vector<RunEvent> EventQueue::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<RunEvent> taken;
  taken.swap(events_);
  progressAt_ = SIZE_MAX;
  return taken;
}

RunEvent EventQueue::Make(RunEvent::Kind kind, const std::string& folder, const std::string& text) {
  RunEvent event{kind};
  event.folder = folder;
  event.text = text;
  return event;
}

void EventQueue::Push(RunEvent event) {
  // Only what the log shows carries its time: asking the clock for every
  // folder would cost a run of thousands of folders dearly.
  using Kind = RunEvent::Kind;
  switch (event.kind) {
    case Kind::Listed:
    case Kind::Current:
    case Kind::Stale:
    case Kind::Warned:
    case Kind::Progress:
      break;
    default:
      event.clock = clock_();
  }
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (event.kind == RunEvent::Kind::Progress && progressAt_ != SIZE_MAX) {
      events_[progressAt_] = std::move(event);
      return;
    }
    if (event.kind == RunEvent::Kind::Progress) progressAt_ = events_.size();
    wake = events_.empty();
    events_.push_back(std::move(event));
  }
  if (wake && woken_) woken_();
}

void EventQueue::Listed(const std::string& folder, const std::vector<tree::ListedFolder>& subFolders) {
  RunEvent event = Make(RunEvent::Kind::Listed, folder);
  event.listed = subFolders;
  Push(std::move(event));
}

void EventQueue::Current(const std::string& folder, const std::string& shownManifest) {
  Push(Make(RunEvent::Kind::Current, folder, shownManifest));
}

void EventQueue::Written(const std::string& folder, const std::string& shownManifest) {
  Push(Make(RunEvent::Kind::Written, folder, shownManifest));
}

void EventQueue::Stale(const std::string& folder, const std::string& shownManifest, bool missing,
                       const tree::IncludeChanges& changes) {
  RunEvent event = Make(RunEvent::Kind::Stale, folder, shownManifest);
  event.missing = missing;
  event.changes = changes;
  Push(std::move(event));
}

void EventQueue::Failed(const std::string& folder, const tree::Failure& why) {
  RunEvent event = Make(RunEvent::Kind::Failed, folder);
  event.failure = why;
  Push(std::move(event));
}

void EventQueue::Noticed(const tree::Notice& notice) {
  RunEvent event = Make(RunEvent::Kind::Noticed);
  event.notice = notice;
  Push(std::move(event));
}

void EventQueue::Warned(const std::string& folder, const tree::Warning& warning) {
  RunEvent event = Make(RunEvent::Kind::Warned, folder);
  event.warning = warning;
  Push(std::move(event));
}

void EventQueue::LeftoverRemoved(const std::string& shownPath) {
  Push(Make(RunEvent::Kind::Leftover, "", shownPath));
}

void EventQueue::Progress(const tree::Tally& tally, bool checking) {
  RunEvent event = Make(RunEvent::Kind::Progress);
  event.tally = tally;
  event.checking = checking;
  Push(std::move(event));
}

void EventQueue::Summary(const tree::Tally& tally, bool checking, double seconds) {
  RunEvent event = Make(RunEvent::Kind::Summary);
  event.tally = tally;
  event.checking = checking;
  event.seconds = seconds;
  Push(std::move(event));
}

void EventQueue::Stopped() { Push(Make(RunEvent::Kind::Stopped)); }

void EventQueue::Problem(const tree::RunProblem& why) {
  RunEvent event = Make(RunEvent::Kind::Problem);
  event.problem = why;
  Push(std::move(event));
}

void EventQueue::Watching(const std::string& shownRoot) {
  Push(Make(RunEvent::Kind::Watching, "", shownRoot));
}

void EventQueue::WatchNote(const tree::Note& note) {
  RunEvent event = Make(RunEvent::Kind::WatchNote);
  event.note = note;
  Push(std::move(event));
}

void EventQueue::Ended(const tree::Outcome& outcome) {
  RunEvent event = Make(RunEvent::Kind::Ended);
  event.outcome = outcome;
  Push(std::move(event));
}

}  // namespace window
