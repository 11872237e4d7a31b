#include "window/model/manifest_tree.h"

#include <algorithm>

#include "rules/manifest_rule.h"
#include "tree/console_reporter.h"
#include "tree/run_state.h"

namespace window {
namespace {

std::string ParentOf(const std::string& path) {
  const size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string LastName(const std::string& path) {
  const size_t cut = path.rfind('\\');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ChildOf(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + '\\' + name;
}

// What writing a manifest would change, in a few words.
std::string Change(const tree::IncludeChanges& changes) {
  if (changes.added.empty() && changes.removed.empty()) {
    return changes.reordered ? "the same include lines in another order"
                             : "the include lines agree; other lines differ";
  }
  std::string text;
  if (!changes.added.empty()) {
    text = std::to_string(changes.added.size()) +
           (changes.added.size() == 1 ? " include line to add" : " include lines to add");
  }
  if (!changes.added.empty() && !changes.removed.empty()) text += ", ";
  if (!changes.removed.empty()) text += std::to_string(changes.removed.size()) + " to remove";
  return text;
}

}  // namespace

const char* StateWord(State state) {
  switch (state) {
    case State::Pending: return "not yet looked at";
    case State::Current: return "current";
    case State::Missing: return "missing";
    case State::Stale: return "stale";
    case State::Written: return "written";
    case State::Failed: return "failed";
    case State::Skipped: return "skipped";
    case State::Link: return "link";
  }
  return "";
}

void ManifestTree::Reset(const std::string& shownRoot) {
  shownRoot_ = shownRoot;
  rows_.clear();
  warnings_.clear();
  log_.clear();
  changes_.clear();
  running_ = watching_ = summarised_ = false;
  leftovers_ = 0;
  progress_ = {};
  Row& root = rows_[""];
  root.name = shownRoot;
  Changed(ViewChange::Kind::Added, root);
}

void ManifestTree::BeginRun(bool checking) {
  ++run_;
  checking_ = checking;
  running_ = true;
  summarised_ = false;
  leftovers_ = 0;
  progress_ = {};
}

void ManifestTree::EndRun() {
  running_ = false;
  watching_ = false;
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
    SetState(rows_[children[i]], listed[i].link ? State::Link : State::Skipped, listed[i].notEntered);
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
  log_.push_back(event.clock + " " + text);
}

void ManifestTree::Apply(RunEvent event) {
  using Kind = RunEvent::Kind;
  switch (event.kind) {
    case Kind::Listed: {
      Row& row = Ensure(event.folder);
      row.seen = run_;
      std::erase_if(warnings_, [&](const Warning& w) { return w.folder == event.folder; });
      Reconcile(row, event.listed);
      break;
    }
    case Kind::Current: {
      Row& row = Ensure(event.folder);
      row.changes = {};
      SetState(row, State::Current);
      break;
    }
    case Kind::Written: {
      Row& row = Ensure(event.folder);
      row.shownManifest = event.text;
      row.changes = {};
      SetState(row, State::Written);
      if (watching_) AddLog(event, "wrote " + event.text);
      break;
    }
    case Kind::Stale: {
      Row& row = Ensure(event.folder);
      row.shownManifest = event.text;
      row.changes = std::move(event.changes);
      SetState(row, event.missing ? State::Missing : State::Stale);
      break;
    }
    case Kind::Failed: {
      Row& row = Ensure(event.folder);
      // A folder can fail more than once in a run (its listing, then its
      // manifest): every reason is kept.
      std::string reason = event.text;
      if (row.state == State::Failed && row.seen == run_) reason = row.reason + "\n" + reason;
      SetState(row, State::Failed, std::move(reason));
      AddLog(event, event.text);
      break;
    }
    case Kind::Warned:
      warnings_.push_back({event.folder, event.text});
      break;
    case Kind::Leftover:
      ++leftovers_;
      AddLog(event, "removed " + event.text);
      break;
    case Kind::Progress:
      progress_ = event.tally;
      break;
    case Kind::Summary:
      running_ = false;
      summarised_ = true;
      RemoveUnseen("");
    {
      std::string line = tree::ConsoleReporter::SummaryLine(event.tally, event.checking, event.seconds);
      if (!line.empty() && line.back() == '\n') line.pop_back();
      AddLog(event, line);
      break;
    }
    case Kind::Stopped:
      running_ = false;
      AddLog(event, "stopped");
      break;
    case Kind::Watching:
      watching_ = true;
      checking_ = false;
      AddLog(event, "watching " + event.text + " for changes");
      break;
    case Kind::Noticed:
    case Kind::Problem:
    case Kind::WatchNote:
      AddLog(event, event.text);
      break;
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
    }
    ++counts.folders;
  }
  counts.warnings = warnings_.size();
  return counts;
}

std::string ManifestTree::StatusText() const {
  if (running_) {
    return std::string(checking_ ? "Checking: " : "Updating: ") + std::to_string(progress_.folders) +
           " folders visited, " + std::to_string(progress_.changed) +
           (checking_ ? " missing or stale" : " written");
  }
  const Counts counts = Count();
  tree::Tally tally;
  tally.folders = counts.folders;
  tally.changed = checking_ ? counts.missingOrStale : counts.written;
  tally.current = counts.current;
  tally.failed = counts.failed;
  tally.warnings = counts.warnings;
  tally.leftovers = leftovers_;
  std::string line = tree::ConsoleReporter::SummaryLine(tally, checking_, 0);
  // The seconds belong to a run, not to what the tree shows now.
  return line.substr(0, line.rfind(" ("));
}

std::string ManifestTree::Label(const Row& row) const {
  // ROOT by its own name: the window's title gives its whole path.
  std::string name = row.name;
  if (row.path.empty()) {
    while (name.size() > 1 && (name.back() == '\\' || name.back() == '/')) name.pop_back();
    const size_t cut = name.find_last_of("\\/");
    if (cut != std::string::npos && cut + 1 < name.size()) name = name.substr(cut + 1);
  }
  return name + " \u2014 " + StateWord(row.state);
}

std::string ManifestTree::ShownFolder(const std::string& path) const {
  std::string shown = shownRoot_;
  for (size_t at = 0; !path.empty();) {
    const size_t cut = path.find('\\', at);
    shown = tree::Shown(shown, path.substr(at, cut == std::string::npos ? cut : cut - at));
    if (cut == std::string::npos) break;
    at = cut + 1;
  }
  return shown;
}

std::string ManifestTree::Details(const std::string& path) const {
  const Row* row = Find(path);
  if (row == nullptr) return "";
  const std::string folder = ShownFolder(path);
  std::string manifest = row->shownManifest;
  if (manifest.empty()) manifest = tree::Shown(folder, rules::ManifestNameFor(row->name));
  std::string text;
  switch (row->state) {
    case State::Missing:
    case State::Stale:
      for (const std::string& line :
           tree::ConsoleReporter::StaleEntry(manifest, row->state == State::Missing, row->changes)) {
        text += line + "\n";
      }
      break;
    case State::Current:
    case State::Written:
      text = manifest + ": " + StateWord(row->state) + "\n";
      break;
    case State::Pending:
      text = folder + ": " + StateWord(row->state) + "\n";
      break;
    case State::Failed:
    case State::Skipped:
    case State::Link:
      text = folder + ": " + StateWord(row->state) + ": " + row->reason + "\n";
      break;
  }
  for (const Warning& warning : warnings_) {
    if (warning.folder == path) text += "warning: " + warning.text + "\n";
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
      list.push_back({row->path, row->path.empty() ? manifest : row->path + '\\' + manifest,
                      StateWord(row->state),
                      row->state == State::Missing ? "none yet: " + Change(row->changes)
                                                   : Change(row->changes)});
    } else if (row->state == State::Failed) {
      list.push_back({row->path, row->path.empty() ? "." : row->path, "failed", row->reason});
    }
    for (auto it = row->children.rbegin(); it != row->children.rend(); ++it) {
      if (const Row* child = Find(*it)) pending.push_back(child);
    }
  }
  for (const Warning& warning : warnings_) {
    list.push_back({warning.folder, warning.folder.empty() ? "." : warning.folder, "warning",
                    warning.text});
  }
  return list;
}

}  // namespace window
