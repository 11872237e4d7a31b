#include "tree/watch_registry.h"

#include "tree/poller.h"

namespace tree {

WatchRegistry::WatchRegistry(os::ChangeSource& source, Poller& poller)
    : source_(source),
      poller_(poller),
      rule_(source.Traits().namesAnyCase ? NameCase::Any : NameCase::Exact),
      watched_(NameLess{rule_}) {}

os::WatchStart WatchRegistry::Watch(const std::string& folder, const os::FolderHandle& handle,
                                    uint64_t identity, std::string* problem) {
  if (Knows(folder)) Forget(folder);
  const os::WatchStart start = source_.Watch(folder, handle, problem);
  if (start == os::WatchStart::Started || start == os::WatchStart::Known) {
    // Known: reached by another path too (a bind mount), watched once.
    watched_[folder] = identity;
    if (start == os::WatchStart::Started && begun_) returning_.push_back({folder, true});
  }
  return start;
}

bool WatchRegistry::Holds(const std::string& folder, uint64_t identity) const {
  const auto at = watched_.find(folder);
  return at != watched_.end() && at->second == identity;
}

void WatchRegistry::Forget(const std::string& folder) {
  const std::vector<std::string> gone = Watched(folder);
  if (gone.empty()) return;
  for (const std::string& watched : gone) watched_.erase(watched);
  source_.Unwatch(folder);
  poller_.Forget(folder);
}

std::vector<std::string> WatchRegistry::Watched(const std::string& folder) const {
  // Names that begin alike lie together ("a", "a b", "a\c"), a sub-tree
  // among them.
  std::vector<std::string> watched;
  for (auto it = watched_.lower_bound(folder);
       it != watched_.end() && below::Within(it->first.substr(0, folder.size()), folder, rule_);
       ++it) {
    if (below::Within(it->first, folder, rule_)) watched.push_back(it->first);
  }
  return watched;
}

std::vector<FolderChange> WatchRegistry::TakeReturning() {
  std::vector<FolderChange> returning;
  returning.swap(returning_);
  return returning;
}

}  // namespace tree
