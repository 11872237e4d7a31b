// A run presented on the console: findings and failures on standard error,
// the --check listing, the names of written manifests (-v, or with the time
// once a watch is up) and the summary line on standard output, and on a
// terminal a progress line once a run takes longer than half a second.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"

#include "tree/reporter.h"

namespace tree {

// How much the console says: -q, --quiet and -v, --verbose.
struct ConsoleOptions {
  bool quiet = false;    // nothing but errors and warnings
  bool verbose = false;  // each manifest written, each leftover removed
};

class ConsoleReporter final : public Reporter {
 public:
  explicit ConsoleReporter(const ConsoleOptions& options);

  void Listed(const std::string&, const std::vector<ListedFolder>&) override {}
  void Current(const std::string&, const std::string&) override {}
  void Written(const std::string& folder, const std::string& shownManifest) override;
  void Stale(const std::string& folder, const std::string& shownManifest, bool missing,
             const IncludeChanges& changes) override;
  void Failed(const std::string& folder, const Failure& why) override;
  void Noticed(const Notice& notice) override;
  void Warned(const std::string& folder, const Warning& warning) override;
  void LeftoverRemoved(const std::string& shownPath) override;
  void Progress(const Tally& tally, bool checking) override;
  void Summary(const Tally& tally, bool checking, double seconds) override;
  void Stopped() override { ClearProgress(); }
  void Problem(const RunProblem& why) override;
  void Watching(const std::string& shownRoot) override;
  void WatchNote(const Note& note) override;

 private:
  // Writes one line, through ForPerson: every line printed goes this way.
  void Say(os::Stream stream, std::string_view line);
  void ClearProgress();

  bool quiet_;
  bool verbose_;
  bool progress_;  // standard error is a terminal and the run is not quiet
  double start_;
  double lastProgress_ = 0;
  size_t progressWidth_ = 0;
  bool watching_ = false;
};

}  // namespace tree
