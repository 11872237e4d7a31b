#include "tree/watch_loop.h"

#include <algorithm>

#include "tree/watch_registry.h"

namespace tree {
namespace {

// A wait of at least the time left, in whole milliseconds.
int MillisecondsUntil(double seconds) {
  return seconds <= 0 ? 0 : static_cast<int>(seconds * 1000) + 1;
}

}  // namespace

WatchLoop::WatchLoop(os::ChangeSource& source, WatchRegistry& registry, double tickSeconds,
                     Clock clock)
    : source_(source),
      registry_(registry),
      filter_(source.Traits(), registry),
      tickSeconds_(tickSeconds),
      clock_(std::move(clock)),
      nextTick_(clock_() + tickSeconds) {}

WatchLoop::Next WatchLoop::Wait(ChangeBatch* batch, std::string* problem) {
  for (;;) {
    for (FolderChange& change : registry_.TakeReturning()) Add(std::move(change));
    const double now = clock_();
    if (now >= nextTick_) {
      // Due at its time: the next one too, unless an update overran it.
      nextTick_ += tickSeconds_;
      if (nextTick_ <= now) nextTick_ = now + tickSeconds_;
      return Next::Tick;
    }
    int timeout = MillisecondsUntil(nextTick_ - now);
    if (!pending_.Empty()) {
      if (!gathering_) Noted(now);
      const double due = std::min(last_ + kQuietSeconds, first_ + kLongestGatherSeconds);
      if (now >= due) {
        HandOut(batch);
        return Next::Batch;
      }
      timeout = std::min(timeout, MillisecondsUntil(due - now));
    }
    std::vector<os::RawChange> changes;
    switch (source_.Wait(timeout, &changes, problem)) {
      case os::ChangeWait::Interrupted: return Next::Interrupted;
      case os::ChangeWait::Failed: return Next::Failed;
      default: break;
    }
    if (!Take(changes, problem)) return Next::Failed;
  }
}

bool WatchLoop::Take(const std::vector<os::RawChange>& changes, std::string* problem) {
  using Outcome = ChangeMeaning::Outcome;
  bool relevant = false, startOver = false;
  for (const os::RawChange& change : changes) {
    const ChangeMeaning meaning = filter_.Take(change);
    for (const std::string& folder : meaning.forget) registry_.Forget(folder);
    switch (meaning.outcome) {
      case Outcome::RootRemoved: *problem = kRootRemoved; return false;
      case Outcome::RootMoved: *problem = kRootMoved; return false;
      case Outcome::RootUnmounted: *problem = kRootUnmounted; return false;
      case Outcome::Nothing: continue;
      case Outcome::Relevant: break;
    }
    relevant = true;
    pending_.rescanAll = pending_.rescanAll || meaning.rescanAll;
    for (const FolderChange& redo : meaning.redo) AddChange(&pending_.changes, redo);
    startOver = startOver || meaning.startOver;
  }
  if (relevant) Noted(clock_());
  if (!startOver) return true;
  // The source starts over; what changed while it was blind is found by
  // looking at the whole tree again.
  pending_.rescanAll = true;
  return source_.StartOver(problem);
}

void WatchLoop::Add(FolderChange change) {
  AddChange(&pending_.changes, std::move(change));
  Noted(clock_());
}

void WatchLoop::Noted(double now) {
  if (pending_.Empty()) return;
  if (!gathering_) first_ = now;
  gathering_ = true;
  last_ = now;
}

void WatchLoop::HandOut(ChangeBatch* batch) {
  batch->rescanAll = pending_.rescanAll;
  batch->changes.clear();
  if (!pending_.rescanAll) batch->changes.swap(pending_.changes);
  pending_ = {};
  gathering_ = false;
  filter_.BatchOver();
}

}  // namespace tree
