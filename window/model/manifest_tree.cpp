#include "window/model/manifest_tree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tree/options.h"
#include "tree/paths.h"
#include "rules/manifest_rule.h"
#include "tree/change_filter.h"
#include "tree/error_text.h"
#include "tree/report_words.h"

namespace window {
namespace {

std::string ParentOf(const std::string& path) { return std::string(tree::below::Parent(path)); }
std::string LastName(const std::string& path) { return std::string(tree::below::Leaf(path)); }
std::string ChildOf(const std::string& folder, const std::string& name) {
  return tree::below::Join(folder, name);
}

// Text as the console shows it, line by line: a control character or a
// byte that is not UTF-8 in a name as its escape (\x0a), so a name can
// neither split a line nor draw as a box.
std::string Legible(std::string_view text) {
  std::string shown;
  for (size_t begin = 0;;) {
    const size_t end = text.find('\n', begin);
    shown += tree::ForPerson(text.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) return shown;
    shown += '\n';
    begin = end + 1;
  }
}

// The value at index, "" when there is none.
const std::string& At(const std::vector<std::string>& values, size_t index) {
  static const std::string none;
  return index < values.size() ? values[index] : none;
}

// The phrase of one of the engine's fixed reasons; 0 when it has none.
unsigned ReasonPhrase(const std::string& reason) {
  static const struct {
    const char* engine;
    unsigned id;
  } kReasons[] = {
      {"is a folder", IDS_REFUSED_FOLDER},
      {"is read-only", IDS_REFUSED_READ_ONLY},
      {"is hidden", IDS_REFUSED_HIDDEN},
      {"is a system file", IDS_REFUSED_SYSTEM},
      {rules::kHoldsBackslash, IDS_LEFT_OUT_BACKSLASH},
      {"its name holds control characters", IDS_LEFT_OUT_CONTROLS},
      {"its name is not valid UTF-8", IDS_LEFT_OUT_NOT_UTF8},
      {"a network share", IDS_UNSEEN_NETWORK_SHARE},
      {tree::kRootRemoved.data(), IDS_WATCH_ROOT_REMOVED},
      {tree::kRootMoved.data(), IDS_WATCH_ROOT_MOVED},
      {tree::kRootUnmounted.data(), IDS_WATCH_ROOT_UNMOUNTED},
      {"an ignore file above it cannot be used", IDS_WATCH_ABOVE_UNUSABLE},
  };
  for (const auto& known : kReasons) {
    if (reason == known.engine) return known.id;
  }
  return 0;
}

}  // namespace

std::string ManifestTree::Say(unsigned id, const std::vector<std::string>& arguments) const {
  return phrases_(id, arguments);
}

std::string ManifestTree::StateWord(State state) const {
  switch (state) {
    case State::Pending: return Say(IDS_STATE_PENDING);
    case State::Current: return Say(IDS_STATE_CURRENT);
    case State::Missing: return Say(IDS_STATE_MISSING);
    case State::Stale: return Say(IDS_STATE_STALE);
    case State::Written: return Say(IDS_STATE_WRITTEN);
    case State::Failed: return Say(IDS_STATE_FAILED);
    case State::Skipped: return Say(IDS_STATE_SKIPPED);
    case State::Link: return Say(IDS_STATE_LINK);
    case State::Refused: return Say(IDS_STATE_REFUSED);
  }
  return "";
}

// "1 folder", "3 folders": the phrase for one and the one for more (a
// language without plurals has the same text in both).
std::string ManifestTree::Counted(unsigned long n, unsigned one, unsigned many) const {
  return Say(n == 1 ? one : many, {std::to_string(n)});
}

// The counts of the run's summary, without its seconds.
std::string ManifestTree::SummaryCounts(const tree::Tally& tally, bool checking) const {
  std::string text = Say(checking ? IDS_COUNTS_CHECKED : IDS_COUNTS_UPDATED,
                         {Counted(tally.folders, IDS_FOLDERS_ONE, IDS_FOLDERS),
                          Counted(tally.changed, IDS_MANIFESTS_ONE, IDS_MANIFESTS),
                          std::to_string(tally.current), std::to_string(tally.failed)});
  if (tally.warnings > 0) {
    text = Say(tally.warnings == 1 ? IDS_COUNTS_WARNINGS_ONE : IDS_COUNTS_WARNINGS,
               {text, std::to_string(tally.warnings)});
  }
  if (tally.leftovers > 0) {
    text = Say(tally.leftovers == 1 ? IDS_COUNTS_LEFTOVERS_ONE : IDS_COUNTS_LEFTOVERS,
               {text, std::to_string(tally.leftovers)});
  }
  return text;
}

std::string ManifestTree::StopWords(tree::StopReason reason) const {
  switch (reason) {
    case tree::StopReason::None: return "";
    case tree::StopReason::OutOfMemory: return Say(IDS_STOP_OUT_OF_MEMORY);
    case tree::StopReason::OutputFailed: return Say(IDS_STOP_OUTPUT_FAILED);
    case tree::StopReason::Interrupted:
    case tree::StopReason::Requested: return Say(IDS_STOPPED);
  }
  return "";
}

// Why a stale entry lists no include line: the engine's words when it did
// not compare them.
std::string ManifestTree::NoLinesBecause(const tree::IncludeChanges& changes) const {
  if (changes.tooLarge) return Say(IDS_LINES_TOO_LARGE);
  if (changes.notCompared != nullptr) return changes.notCompared;
  return Say(changes.reordered ? IDS_LINES_REORDERED : IDS_LINES_AGREE);
}

// "2 include lines to add, 1 to remove".
std::string ManifestTree::ChangeInBrief(const tree::IncludeChanges& changes) const {
  if (changes.notCompared != nullptr || (changes.added.empty() && changes.removed.empty())) {
    return NoLinesBecause(changes);
  }
  const std::string add = Counted(changes.added.size(), IDS_BRIEF_ADD_ONE, IDS_BRIEF_ADD);
  const std::string remove = Say(IDS_BRIEF_REMOVE, {std::to_string(changes.removed.size())});
  if (changes.removed.empty()) return add;
  if (changes.added.empty()) return remove;
  return Say(IDS_BRIEF_BOTH, {add, remove});
}

// Why a folder is not entered, in the window's words; the engine's where it
// said no more than words.
std::string ManifestTree::NotEnteredWords(const Row& row, const std::string& engineWords) const {
  switch (row.notEntered) {
    case tree::NotEntered::Entered: return engineWords;
    case tree::NotEntered::DotName: return Say(IDS_SKIP_DOT_NAME);
    case tree::NotEntered::HiddenAttribute: return Say(IDS_SKIP_HIDDEN_ATTRIBUTE);
    case tree::NotEntered::Excluded: return Say(IDS_SKIP_EXCLUDED, {row.pattern});
    case tree::NotEntered::Ignored: return Say(IDS_SKIP_IGNORED, {row.pattern});
    case tree::NotEntered::HoldsBackslash: return Say(IDS_SKIP_HOLDS_BACKSLASH);
    case tree::NotEntered::Link: return Say(IDS_SKIP_LINK);
  }
  return engineWords;
}

std::string ManifestTree::ErrorText(unsigned long error) const {
  return errorWords_ ? errorWords_(error) : tree::ErrorText(error);
}

std::string ManifestTree::FailureWords(const tree::Failure& why) const {
  const auto& v = why.values;
  switch (why.code) {
    case tree::FailCode::Text: break;
    case tree::FailCode::CannotList:
      return Say(IDS_FAIL_CANNOT_LIST, {tree::Dotted(At(v, 0)), ErrorText(why.error)});
    case tree::FailCode::CannotRead:
      if (v.size() > 1) {
        return Say(IDS_FAIL_CANNOT_READ_SKIPPED, {v[0], ErrorText(why.error), tree::Dotted(v[1])});
      }
      return Say(IDS_FAIL_CANNOT_READ, {At(v, 0), ErrorText(why.error)});
    case tree::FailCode::CannotWrite: return Say(IDS_FAIL_CANNOT_WRITE, {At(v, 0), ErrorText(why.error)});
    case tree::FailCode::WriteRefused:
      if (const unsigned id = ReasonPhrase(At(v, 1))) return Say(IDS_FAIL_WRITE_REFUSED, {At(v, 0), Say(id)});
      break;
    case tree::FailCode::IgnoreTooLarge: return Say(IDS_IGNORE_TOO_LARGE, v);
    case tree::FailCode::IgnoreNotUtf8: return Say(IDS_IGNORE_NOT_UTF8, v);
    case tree::FailCode::IgnoreControl: return Say(IDS_IGNORE_CONTROL, v);
    case tree::FailCode::IgnorePath: return Say(IDS_IGNORE_PATH, v);
  }
  return tree::Words(why);
}

// Every reason a folder failed for, a line each.
std::string ManifestTree::FailureWords(const std::vector<tree::Failure>& failures) const {
  std::string text;
  for (const tree::Failure& why : failures) {
    if (!text.empty()) text += '\n';
    text += FailureWords(why);
  }
  return text;
}

std::string ManifestTree::WarningWords(const tree::Warning& warning) const {
  const auto& v = warning.values;
  switch (warning.code) {
    case tree::WarnCode::Text: break;
    case tree::WarnCode::DataManifest:
      return Say(IDS_WARN_DATA_MANIFEST, {At(v, 0), tree::Dotted(At(v, 1)), At(v, 2), At(v, 3)});
    case tree::WarnCode::LeftOut:
      if (const unsigned id = ReasonPhrase(At(v, 2))) return Say(IDS_WARN_LEFT_OUT, {At(v, 0), At(v, 1), Say(id)});
      break;
  }
  return tree::Words(warning);
}

// Why ROOT is refused, without ROOT, for a problem that says so; "" for any
// other.
std::string ManifestTree::RootReason(const tree::RunProblem& why) const {
  switch (why.code) {
    case tree::ProblemCode::NoSuchFolder: return Say(IDS_ROOT_NO_SUCH_FOLDER);
    case tree::ProblemCode::NoModAtRoot: return Say(IDS_ROOT_NO_MOD_AT_ROOT);
    case tree::ProblemCode::RootHoldsBackslash: return Say(IDS_ROOT_HOLDS_BACKSLASH);
    case tree::ProblemCode::RootNotAFolder: return Say(IDS_ROOT_NOT_A_FOLDER);
    case tree::ProblemCode::RootError: return ErrorText(why.error);
    default: return "";
  }
}

std::string ManifestTree::ProblemWords(const tree::RunProblem& why) const {
  const auto& v = why.values;
  if (const std::string reason = RootReason(why); !reason.empty()) {
    return Say(IDS_PROBLEM_ROOT, {At(v, 0), reason});
  }
  switch (why.code) {
    case tree::ProblemCode::CannotWatch: return Say(IDS_PROBLEM_CANNOT_WATCH, {At(v, 0), At(v, 1)});
    case tree::ProblemCode::WatchUnworkable: return Say(IDS_PROBLEM_WATCH_UNWORKABLE, {At(v, 0)});
    case tree::ProblemCode::StoppedWatching:
      return Say(IDS_PROBLEM_STOPPED_WATCHING, {At(v, 0), Reason(At(v, 1))});
    case tree::ProblemCode::OutputFailed: return Say(IDS_PROBLEM_OUTPUT_FAILED, {ErrorText(why.error)});
    default: return tree::Words(why);
  }
}

std::string ManifestTree::NoteWords(const tree::Note& note) const {
  const auto& v = note.values;
  switch (note.code) {
    case tree::NoteCode::Text: break;
    case tree::NoteCode::CannotWatch: return Say(IDS_NOTE_CANNOT_WATCH, {At(v, 0), At(v, 1)});
    case tree::NoteCode::PollingUnseen: return Say(IDS_NOTE_POLLING_UNSEEN, {At(v, 0), Reason(At(v, 1))});
    case tree::NoteCode::PollingAsAsked: return Say(IDS_NOTE_POLLING_AS_ASKED, {At(v, 0), At(v, 1)});
  }
  return tree::Words(note);
}

std::string ManifestTree::NoticeWords(const tree::Notice& notice) const {
  const auto& v = notice.values;
  switch (notice.code) {
    case tree::NoticeCode::Text: break;
    case tree::NoticeCode::Vanished: return Say(IDS_NOTICE_VANISHED, {tree::Dotted(At(v, 0))});
    case tree::NoticeCode::BecameLink: return Say(IDS_NOTICE_BECAME_LINK, {tree::Dotted(At(v, 0))});
    case tree::NoticeCode::NoFolderAnyMore: return Say(IDS_NOTICE_NO_FOLDER, {tree::Dotted(At(v, 0))});
    case tree::NoticeCode::VanishedUnwritten: return Say(IDS_NOTICE_VANISHED_UNWRITTEN, v);
  }
  return tree::Words(notice);
}

// Why ROOT is refused: the window's own phrase, or the problem the run
// ended on, without ROOT's name, which the status bar puts first.
std::string ManifestTree::RefusalWords() const {
  if (!refusal_.problem) return Say(refusal_.phrase);
  std::string why = RootReason(*refusal_.problem);
  if (!why.empty()) return why;
  why = ProblemWords(*refusal_.problem);
  if (why.starts_with(shownRoot_ + ": ")) why.erase(0, shownRoot_.size() + 2);
  return why;
}

// One of the engine's fixed reasons in the window's words; any other as
// the engine says it.
std::string ManifestTree::Reason(const std::string& engineWords) const {
  const unsigned id = ReasonPhrase(engineWords);
  return id != 0 ? Say(id) : engineWords;
}

void ManifestTree::Reworded() {
  for (auto& [path, row] : rows_) {
    if ((row.state == State::Skipped || row.state == State::Link) && row.notEntered != tree::NotEntered::Entered) {
      row.reason = NotEnteredWords(row, row.reason);
    } else if (row.state == State::Failed && !row.failures.empty()) {
      row.reason = FailureWords(row.failures);
    }
    Changed(ViewChange::Kind::Updated, row);
  }
  for (Warning& warning : warnings_) warning.text = WarningWords(warning.said);
  if (Row& root = rows_[""]; root.state == State::Refused) {
    root.reason = RefusalWords();
    Changed(ViewChange::Kind::Updated, root);
  }
}

void ManifestTree::Reset(const std::string& shownRoot) {
  shownRoot_ = shownRoot;
  rows_.clear();
  warnings_.clear();
  log_.clear();
  changes_.clear();
  running_ = watching_ = false;
  tally_ = {};
  stop_ = tree::StopReason::None;
  problem_.reset();
  lookedAt_.clear();
  Row& root = rows_[""];
  root.name = shownRoot;
  Changed(ViewChange::Kind::Added, root);
}

void ManifestTree::BeginRun(bool checking) {
  ++run_;
  checking_ = checking;
  running_ = true;
  tally_ = {};
  stop_ = tree::StopReason::None;
  problem_.reset();
}

void ManifestTree::EndRun() {
  running_ = false;
  watching_ = false;
}

void ManifestTree::Refuse(unsigned phrase) { Refuse({std::nullopt, phrase}); }

void ManifestTree::Refuse(Refusal refusal) {
  refusal_ = std::move(refusal);
  Row& root = rows_[""];
  for (const std::string& child : std::vector<std::string>(root.children)) Remove(child);
  warnings_.clear();
  rows_[""].changes = {};
  SetState(rows_[""], State::Refused, RefusalWords());
}

const std::string& ManifestTree::Refused() const {
  static const std::string none;
  const Row* root = Find("");
  return root != nullptr && root->state == State::Refused ? root->reason : none;
}

const Row* ManifestTree::Find(const std::string& path) const {
  const auto it = rows_.find(path);
  return it == rows_.end() ? nullptr : &it->second;
}

std::vector<ViewChange> ManifestTree::TakeChanges() {
  std::vector<ViewChange> taken;
  taken.swap(changes_);
  return taken;
}

void ManifestTree::Changed(ViewChange::Kind kind, const Row& row) {
  changes_.push_back({kind, row.path});
}

// The row of a folder, made (with the rows above it) when the tree has none
// yet.
Row& ManifestTree::Ensure(const std::string& path) {
  const auto it = rows_.find(path);
  if (it != rows_.end()) return it->second;
  Row& parent = Ensure(ParentOf(path));
  parent.children.push_back(path);
  Row& row = rows_[path];
  row.path = path;
  row.name = LastName(path);
  Changed(ViewChange::Kind::Added, row);
  return row;
}

void ManifestTree::SetState(Row& row, State state, std::string reason) {
  row.seen = run_;
  if (row.state == state && row.reason == reason) return;
  row.state = state;
  row.reason = std::move(reason);
  Changed(ViewChange::Kind::Updated, row);
}

// The folder's sub-folders are now those its listing gave: new ones added
// in place, gone ones removed with everything beneath them.
void ManifestTree::Reconcile(Row& row, const std::vector<tree::ListedFolder>& listed) {
  const std::string folder = row.path;  // row may move as rows are added
  std::vector<std::string> children;
  children.reserve(listed.size());
  for (const tree::ListedFolder& sub : listed) children.push_back(ChildOf(folder, sub.name));
  for (const std::string& old : std::vector<std::string>(row.children)) {
    if (std::find(children.begin(), children.end(), old) == children.end()) Remove(old);
  }
  std::vector<std::string> added;
  for (size_t i = 0; i < listed.size(); ++i) {
    if (rows_.count(children[i]) == 0) {
      Row& child = rows_[children[i]];
      child.path = children[i];
      child.name = listed[i].name;
      added.push_back(children[i]);
    }
  }
  rows_[folder].children = children;
  for (const std::string& path : added) Changed(ViewChange::Kind::Added, rows_[path]);
  for (size_t i = 0; i < listed.size(); ++i) {
    Row& child = rows_[children[i]];
    if (listed[i].notEntered.empty()) {
      // Entered from now on: its own report tells its state. One that never
      // comes (the folder vanished) lets a full run take the row away.
      if (child.state == State::Skipped || child.state == State::Link) {
        child.state = State::Pending;
        child.reason.clear();
        Changed(ViewChange::Kind::Updated, child);
      }
      continue;
    }
    // Not entered: nothing beneath it is shown.
    for (const std::string& grandChild : std::vector<std::string>(child.children)) Remove(grandChild);
    rows_[children[i]].children.clear();
    child.changes = {};
    Row& skipped = rows_[children[i]];
    skipped.notEntered = listed[i].why;
    skipped.pattern = listed[i].pattern;
    SetState(skipped, listed[i].link ? State::Link : State::Skipped,
             NotEnteredWords(skipped, listed[i].notEntered));
  }
}

void ManifestTree::Remove(const std::string& path) {
  const auto it = rows_.find(path);
  if (it == rows_.end()) return;
  for (const std::string& child : std::vector<std::string>(it->second.children)) Remove(child);
  const Row& row = rows_[path];
  Changed(ViewChange::Kind::Removed, row);
  std::erase_if(warnings_, [&](const Warning& w) { return w.folder == path; });
  if (Row* parent = path.empty() ? nullptr : &rows_[ParentOf(path)]) {
    std::erase(parent->children, path);
  }
  rows_.erase(path);
}

// Takes away what the full run now ending did not report: folders gone
// since, or beneath one that failed before it was listed.
void ManifestTree::RemoveUnseen(const std::string& path) {
  const Row* row = Find(path);
  if (row == nullptr) return;
  for (const std::string& child : std::vector<std::string>(row->children)) {
    const Row* sub = Find(child);
    if (sub != nullptr && sub->seen < run_) {
      Remove(child);
    } else {
      RemoveUnseen(child);
    }
  }
}

void ManifestTree::AddLog(const RunEvent& event, const std::string& text) {
  log_.push_back(event.clock + " " + tree::ForPerson(text));
}

void ManifestTree::Apply(RunEvent event) {
  using Kind = RunEvent::Kind;
  switch (event.kind) {
    case Kind::Listed: {
      Row& row = Ensure(event.folder);
      row.seen = run_;
      std::erase_if(warnings_, [&](const Warning& w) { return w.folder == event.folder; });
      Reconcile(row, event.listed);
      return;
    }
    case Kind::Current:
    case Kind::Written:
    case Kind::Stale: {
      Row& row = Ensure(event.folder);
      // Named as the run named it: the folder's name as the file system
      // holds it decides between Mod.xml and zenter.xml, not as it was typed.
      row.shownManifest = event.text;
      row.changes = std::move(event.changes);
      const bool written = event.kind == Kind::Written;
      SetState(row, written                      ? State::Written
                    : event.kind == Kind::Current ? State::Current
                    : event.missing               ? State::Missing
                                                  : State::Stale);
      if (written && watching_) AddLog(event, Say(IDS_LOG_WROTE, {event.text}));
      return;
    }
    case Kind::Failed: {
      Row& row = Ensure(event.folder);
      // A folder can fail more than once in a run (its listing, then its
      // manifest): every reason is kept.
      if (row.state != State::Failed || row.seen != run_) row.failures.clear();
      row.failures.push_back(event.failure);
      SetState(row, State::Failed, FailureWords(row.failures));
      AddLog(event, FailureWords(event.failure));
      return;
    }
    case Kind::Warned:
      warnings_.push_back({event.folder, WarningWords(event.warning), event.warning});
      return;
    default:
      ApplyToRun(event);
  }
}

// An event that tells of the run rather than of a folder.
void ManifestTree::ApplyToRun(const RunEvent& event) {
  using Kind = RunEvent::Kind;
  switch (event.kind) {
    case Kind::Leftover:
      AddLog(event, Say(IDS_LOG_REMOVED, {event.text}));
      break;
    case Kind::Progress:
      tally_ = event.tally;
      break;
    case Kind::Summary: {
      running_ = false;
      tally_ = event.tally;
      lookedAt_ = event.clock;
      RemoveUnseen("");
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.2f", event.seconds);
      AddLog(event, Say(IDS_SUMMARY_SECONDS, {SummaryCounts(event.tally, event.checking), seconds}));
      break;
    }
    case Kind::Stopped:
      running_ = false;  // why is said once it has ended
      break;
    case Kind::Ended:
      Ended(event);
      break;
    case Kind::Watching:
      watching_ = true;
      checking_ = false;
      AddLog(event, Say(IDS_LOG_WATCHING, {event.text}));
      break;
    case Kind::Problem:
      problem_ = event.problem;
      AddLog(event, ProblemWords(event.problem));
      break;
    case Kind::Noticed:
      AddLog(event, NoticeWords(event.notice));
      break;
    case Kind::WatchNote:
      AddLog(event, NoteWords(event.note));
      break;
    default:
      break;
  }
}

// How the run ended: a ROOT the engine would not run on is refused with its
// reason; a watch's end is logged, for the states are a snapshot from then.
void ManifestTree::Ended(const RunEvent& event) {
  running_ = false;
  stop_ = event.outcome.stop;
  if (event.outcome.status == tree::kExitUsage) {
    Refuse({problem_, problem_ ? 0u : IDS_COULD_NOT_START});
    return;
  }
  if (watching_) {
    lookedAt_ = event.clock;
    if (stop_ != tree::StopReason::None && stop_ != tree::StopReason::Requested) {
      AddLog(event, StopWords(stop_));
    }
    AddLog(event, Say(IDS_LOG_NO_LONGER_KEPT));
    watching_ = false;
  } else if (stop_ != tree::StopReason::None) {
    AddLog(event, StopWords(stop_));
  }
}

Counts ManifestTree::Count() const {
  Counts counts;
  for (const auto& [path, row] : rows_) {
    switch (row.state) {
      case State::Skipped:
      case State::Link: ++counts.skipped; continue;
      case State::Missing:
      case State::Stale: ++counts.missingOrStale; break;
      case State::Written: ++counts.written; break;
      case State::Current: ++counts.current; break;
      case State::Failed: ++counts.failed; break;
      case State::Pending: break;
      case State::Refused: continue;
    }
    ++counts.folders;
  }
  counts.warnings = warnings_.size();
  return counts;
}

std::string ManifestTree::StatusText() const {
  if (!Refused().empty()) return Say(IDS_STATUS_REFUSED, {ShownFolder(""), Refused()});
  if (running_) {
    return Say(checking_ ? IDS_STATUS_CHECKING : IDS_STATUS_UPDATING,
               {std::to_string(tally_.folders), std::to_string(tally_.changed)});
  }
  // What the run counted, as its summary line gives it.
  std::string text = SummaryCounts(tally_, checking_);
  // A stop the user did not ask for is news.
  if (stop_ != tree::StopReason::None && stop_ != tree::StopReason::Requested) {
    text = Say(IDS_STATUS_STOP, {text, StopWords(stop_)});
  }
  // A watch keeps them live; otherwise they are a snapshot.
  if (!watching_ && !lookedAt_.empty()) text = Say(IDS_STATUS_AS_OF, {text, lookedAt_});
  return text;
}

std::string ManifestTree::Label(const Row& row) const {
  // ROOT by its own name: the window's title gives its whole path.
  const std::string name = tree::ForPerson(row.path.empty() ? RootName() : row.name);
  if (row.state == State::Refused) {
    return Say(IDS_LABEL_WHY, {name, StateWord(row.state), tree::ForPerson(row.reason)});
  }
  return Say(IDS_LABEL, {name, StateWord(row.state)});
}

// A folder in the list's first column: below ROOT, ROOT by its own name.
std::string ManifestTree::ShownInList(const std::string& path) const {
  return tree::ForPerson(path.empty() ? RootName() : path);
}

std::string ManifestTree::RootName() const {
  std::string name = shownRoot_;
  while (name.size() > 1 && (name.back() == '\\' || name.back() == '/')) name.pop_back();
  const size_t cut = name.find_last_of("\\/");
  if (cut != std::string::npos && cut + 1 < name.size()) name = name.substr(cut + 1);
  return name;
}

std::string ManifestTree::ShownFolder(const std::string& path) const {
  std::string shown = shownRoot_;
  for (std::string_view name : tree::below::Names(path)) shown = tree::Shown(shown, name);
  return shown;
}

// Each line as the console shows it; the reasons of a folder that failed
// more than once, one a line.
std::string ManifestTree::Details(const std::string& path) const {
  const Row* row = Find(path);
  if (row == nullptr) return "";
  const std::string folder = tree::ForPerson(ShownFolder(path));
  const std::string manifest = tree::ForPerson(row->shownManifest);
  std::string text;
  switch (row->state) {
    case State::Missing:
    case State::Stale: {
      // The include lines as they are written; only the words around them
      // are the window's.
      text = Say(row->state == State::Missing ? IDS_ENTRY_MISSING : IDS_ENTRY_STALE, {manifest}) + "\n";
      const tree::IncludeChanges& changes = row->changes;
      for (const std::string& line : changes.added) text += tree::ForPerson("+ " + line) + "\n";
      for (const std::string& line : changes.removed) text += tree::ForPerson("- " + line) + "\n";
      if (changes.notCompared != nullptr || (changes.added.empty() && changes.removed.empty())) {
        text += Say(IDS_ENTRY_NO_LINES, {tree::ForPerson(NoLinesBecause(changes))}) + "\n";
      }
      break;
    }
    case State::Current:
    case State::Written:
      text = Say(IDS_DETAILS_STATE, {manifest, StateWord(row->state)}) + "\n";
      break;
    case State::Pending:
      text = Say(IDS_DETAILS_STATE, {folder, StateWord(row->state)}) + "\n";
      break;
    case State::Failed:
    case State::Skipped:
    case State::Link:
    case State::Refused:
      text = Say(IDS_DETAILS_WHY, {folder, StateWord(row->state), Legible(row->reason)}) + "\n";
      break;
  }
  for (const Warning& warning : warnings_) {
    if (warning.folder == path) text += Say(IDS_DETAILS_WARNING, {tree::ForPerson(warning.text)}) + "\n";
  }
  return text;
}

std::vector<Attention> ManifestTree::AttentionList() const {
  std::vector<Attention> list;
  std::vector<const Row*> pending;
  if (const Row* root = Find("")) pending.push_back(root);
  // In the walk's order: depth first, each folder's sub-folders as listed.
  while (!pending.empty()) {
    const Row* row = pending.back();
    pending.pop_back();
    if (row->state == State::Missing || row->state == State::Stale) {
      // Named below ROOT, which the window's title shows.
      const std::string& shown = row->shownManifest;
      const size_t cut = shown.find_last_of("\\/");
      const std::string manifest = cut == std::string::npos ? shown : shown.substr(cut + 1);
      list.push_back({row->path, tree::ForPerson(tree::below::Join(row->path, manifest)),
                      StateWord(row->state),
                      row->state == State::Missing ? Say(IDS_BRIEF_NONE_YET, {ChangeInBrief(row->changes)})
                                                   : ChangeInBrief(row->changes)});
    } else if (row->state == State::Failed) {
      list.push_back({row->path, ShownInList(row->path), StateWord(State::Failed), Legible(row->reason)});
    }
    for (auto it = row->children.rbegin(); it != row->children.rend(); ++it) {
      if (const Row* child = Find(*it)) pending.push_back(child);
    }
  }
  for (const Warning& warning : warnings_) {
    list.push_back({warning.folder, ShownInList(warning.folder), Say(IDS_WARNING),
                    tree::ForPerson(warning.text)});
  }
  return list;
}

}  // namespace window
