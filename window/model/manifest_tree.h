// What the window shows of a mod's tree: one row a folder, with its
// manifest's state (current, missing, stale, written, failed with the
// reason, skipped with why), the include lines writing it would change, the
// warnings naming it, the counts the run gave in its summary, the log of a
// watch, and how the last run ended when a stop cut it short. Built from a run's events, kept live by the updates of a
// watch, and platform-neutral: the window code only draws it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tree/manifest_diff.h"
#include "tree/outcome.h"
#include "tree/reporter.h"
#include "window/model/phrases.h"
#include "window/model/run_events.h"

namespace window {

enum class State {
  Pending,  // listed, not yet reported
  Current,
  Missing,
  Stale,
  Written,
  Failed,
  Skipped,  // hidden or ignored: neither visited nor included
  Link,     // included by its parent's manifest, never entered
  Refused,  // ROOT alone: the engine would not run on it, or it is gone
};

struct Row {
  std::string path;  // relative to ROOT, '\' separators; "" for ROOT
  std::string name;  // ROOT: as the user gave it
  State state = State::Pending;
  std::string reason;         // Failed: what failed and why; Skipped, Link: why
  tree::NotEntered notEntered = tree::NotEntered::Entered;  // Skipped, Link: why, as it happened
  std::string pattern;                                       // the pattern that skipped it
  std::string shownManifest;  // once a run named it, as the run named it
  tree::IncludeChanges changes;  // Missing, Stale: the include lines writing would change
  std::vector<tree::Failure> failures;  // Failed: each why of the run it failed in
  std::vector<std::string> children;  // paths, in the listing's order
  uint64_t seen = 0;                  // the run that last reported it
};

struct Warning {
  std::string folder;
  std::string text;  // said, in the window's words
  tree::Warning said;
};

// The rows counted by their states (how much of the tree there is to
// show); the status bar gives the run's own counts.
struct Counts {
  unsigned long folders = 0;  // visited: every row but skipped ones and links
  unsigned long missingOrStale = 0;
  unsigned long written = 0;
  unsigned long current = 0;
  unsigned long failed = 0;
  unsigned long warnings = 0;
  unsigned long skipped = 0;  // skipped folders and links
};

// A row the view must add, redraw or take away. A removed row's rows
// beneath it are taken away first, each with its own change.
struct ViewChange {
  enum class Kind { Added, Updated, Removed } kind;
  std::string path;
};

// What needs the user's eye: a manifest missing or stale, a failure, a
// warning. One line of the list beside the tree.
struct Attention {
  std::string path;   // the folder, relative to ROOT
  std::string shown;  // the manifest or folder, below ROOT ("." for ROOT)
  std::string what;   // the state's word: missing, stale, failed, or the word for a warning
  std::string why;
};

class ManifestTree {
 public:
  // phrases: the words of every text it gives (its states, counts, log);
  // errorWords: of a system error (the engine's English when not given).
  explicit ManifestTree(Phrases phrases, ErrorWords errorWords = {})
      : phrases_(std::move(phrases)), errorWords_(std::move(errorWords)) {}

  // A new ROOT: every row goes; the view starts afresh.
  void Reset(const std::string& shownRoot);
  // A full run begins: what it does not report again is gone at its end.
  void BeginRun(bool checking);
  void Apply(RunEvent event);
  // The run (or the watch) ended, whether or not it gave a summary.
  void EndRun();
  // ROOT cannot be shown (refused by the engine, removed): every row below
  // it goes, and ROOT says why, in the words of the phrase given.
  void Refuse(unsigned phrase);
  // Why ROOT is refused; empty when it is not.
  const std::string& Refused() const;

  const Row* Find(const std::string& path) const;
  const std::string& ShownRoot() const { return shownRoot_; }

  Counts Count() const;
  // The status bar: the counts of the run's summary line, without the
  // seconds, why it stopped if a stop it was not asked for cut it short, and
  // when the states were last looked at unless a watch keeps them live; or a
  // running run's progress; or why ROOT is refused.
  std::string StatusText() const;
  // The label of a row in the tree: its name and its state.
  std::string Label(const Row& row) const;
  // What the user reads about a row: its state and why, the include lines
  // writing it would add (+) and remove (-), its warnings.
  std::string Details(const std::string& path) const;
  std::vector<Attention> AttentionList() const;
  const std::vector<Warning>& Warnings() const { return warnings_; }

  // The log: the time, then what was written, failed or noticed.
  const std::vector<std::string>& Log() const { return log_; }
  // The changes since the last call, for the view to draw.
  std::vector<ViewChange> TakeChanges();
  bool Running() const { return running_; }
  // The phrases changed language: every row is to be drawn again.
  void Reworded();

  // The word a row's label and the details use for a state.
  std::string StateWord(State state) const;

 private:
  std::string Say(unsigned id, const std::vector<std::string>& arguments = {}) const;
  std::string Counted(unsigned long n, unsigned one, unsigned many) const;
  std::string SummaryCounts(const tree::Tally& tally, bool checking) const;
  std::string StopWords(tree::StopReason reason) const;
  std::string NoLinesBecause(const tree::IncludeChanges& changes) const;
  std::string ChangeInBrief(const tree::IncludeChanges& changes) const;
  std::string NotEnteredWords(const Row& row, const std::string& engineWords) const;
  std::string ErrorText(unsigned long error) const;
  std::string FailureWords(const tree::Failure& why) const;
  std::string FailureWords(const std::vector<tree::Failure>& failures) const;
  std::string WarningWords(const tree::Warning& warning) const;
  std::string RootReason(const tree::RunProblem& why) const;
  std::string ProblemWords(const tree::RunProblem& why) const;
  std::string NoteWords(const tree::Note& note) const;
  std::string NoticeWords(const tree::Notice& notice) const;
  std::string RefusalWords() const;
  std::string Reason(const std::string& engineWords) const;
  Row& Ensure(const std::string& path);
  std::string ShownFolder(const std::string& path) const;
  std::string ShownInList(const std::string& path) const;
  std::string RootName() const;  // ROOT's last name, as typed
  void SetState(Row& row, State state, std::string reason = "");
  void Reconcile(Row& row, const std::vector<tree::ListedFolder>& listed);
  void Remove(const std::string& path);
  void RemoveUnseen(const std::string& path);
  void ApplyToRun(const RunEvent& event);
  void AddLog(const RunEvent& event, const std::string& text);
  void Ended(const RunEvent& event);
  // Why ROOT is refused: the problem the run ended on, else the phrase.
  struct Refusal {
    std::optional<tree::RunProblem> problem;
    unsigned phrase = 0;
  };
  void Refuse(Refusal refusal);
  void Changed(ViewChange::Kind kind, const Row& row);

  Phrases phrases_;
  ErrorWords errorWords_;
  std::string shownRoot_;
  std::map<std::string, Row> rows_;
  std::vector<Warning> warnings_;
  std::vector<std::string> log_;
  std::vector<ViewChange> changes_;
  uint64_t run_ = 1;
  bool checking_ = true;
  bool running_ = false;
  bool watching_ = false;
  tree::Tally tally_;  // the run's, from its progress or its summary
  tree::StopReason stop_ = tree::StopReason::None;
  std::optional<tree::RunProblem> problem_;  // the run's last: a refusal says it
  Refusal refusal_;
  std::string lookedAt_;  // HH:MM:SS: when the states shown were last looked at
};

}  // namespace window
