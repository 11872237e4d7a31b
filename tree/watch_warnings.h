// A presenter wrapped for the watch: each folder's warnings said once.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tree/report_words.h"
#include "tree/reporter.h"

namespace tree {

// A presenter (the console, or a window) told each folder's warnings once
// for as long as they hold: a watch updates a folder again and again, and a
// warning that holds (a "Data" folder's manifest that no run writes, a name
// left out) is news only the first time, and again once it has changed.
class WarnOnce final : public Reporter {
 public:
  explicit WarnOnce(Reporter& presenter) : presenter_(presenter) {}

  // Told of each folder that failed, after the presenter: the watch tries
  // again one it could not list.
  void OnFailed(std::function<void(const std::string& folder)> failed) { failed_ = std::move(failed); }

  void Listed(const std::string& folder, const std::vector<ListedFolder>& subFolders) override {
    presenter_.Listed(folder, subFolders);
  }
  void Current(const std::string& folder, const std::string& shownManifest) override {
    Settled(folder);
    presenter_.Current(folder, shownManifest);
  }
  void Written(const std::string& folder, const std::string& shownManifest) override {
    Settled(folder);
    presenter_.Written(folder, shownManifest);
  }
  void Stale(const std::string& folder, const std::string& shownManifest, bool missing,
             const IncludeChanges& changes) override {
    presenter_.Stale(folder, shownManifest, missing, changes);
  }
  void Failed(const std::string& folder, const Failure& why) override {
    Settled(folder);
    presenter_.Failed(folder, why);
    if (failed_) failed_(folder);
  }
  void Noticed(const Notice& notice) override { presenter_.Noticed(notice); }
  void Warned(const std::string& folder, const Warning& warning) override {
    const std::string text = Words(warning);
    pending_[folder].insert(text);
    const auto said = said_.find(folder);
    if (said == said_.end() || said->second.count(text) == 0) presenter_.Warned(folder, warning);
  }
  void LeftoverRemoved(const std::string& shownPath) override { presenter_.LeftoverRemoved(shownPath); }
  void Progress(const Tally& tally, bool checking) override { presenter_.Progress(tally, checking); }
  void Summary(const Tally& tally, bool checking, double seconds) override {
    presenter_.Summary(tally, checking, seconds);
  }
  void Stopped() override { presenter_.Stopped(); }
  void Problem(const RunProblem& why) override { presenter_.Problem(why); }
  void Watching(const std::string& shownRoot) override { presenter_.Watching(shownRoot); }
  void WatchNote(const Note& note) override { presenter_.WatchNote(note); }

 private:
  // The folder's update is over: what it warned of is what holds now.
  void Settled(const std::string& folder) {
    const auto pending = pending_.find(folder);
    if (pending == pending_.end()) {
      said_.erase(folder);
      return;
    }
    said_[folder] = std::move(pending->second);
    pending_.erase(pending);
  }

  Reporter& presenter_;  // the console, or a window
  std::function<void(const std::string& folder)> failed_;
  std::map<std::string, std::set<std::string>> pending_;  // by the update in hand
  std::map<std::string, std::set<std::string>> said_;
};

}  // namespace tree
