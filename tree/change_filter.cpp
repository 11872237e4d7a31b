#include "tree/change_filter.h"

#include <algorithm>

#include "rules/manifest_rule.h"
#include "platform/process_control.h"
#include "rules/temporary_file_name.h"
#include "tree/ignore_file.h"

namespace tree {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b, bool anyCase) {
  if (!anyCase) return a == b;
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

}  // namespace

bool Within(std::string_view folder, std::string_view base, bool anyCase) {
  if (base.empty()) return true;
  if (folder.size() < base.size() || !SameText(folder.substr(0, base.size()), base, anyCase)) {
    return false;
  }
  return folder.size() == base.size() || folder[base.size()] == '\\';
}

std::string ChildFolder(std::string_view folder, std::string_view name) {
  std::string child(folder);
  if (!child.empty()) child.push_back('\\');
  child.append(name);
  return child;
}

void AddChange(std::vector<FolderChange>* changes, FolderChange change) {
  for (const FolderChange& held : *changes) {
    if (held.subTree ? Within(change.folder, held.folder)
                     : held.folder == change.folder && !change.subTree) {
      return;
    }
  }
  if (change.subTree) {
    std::erase_if(*changes,
                  [&](const FolderChange& held) { return Within(held.folder, change.folder); });
  }
  const auto at = std::lower_bound(
      changes->begin(), changes->end(), change,
      [](const FolderChange& a, const FolderChange& b) { return a.folder < b.folder; });
  changes->insert(at, std::move(change));
}

void Gathering::Noted() {
  last_ = os::Seconds();
  if (first_ == 0) first_ = last_;
}

unsigned Gathering::MillisecondsLeft() {
  if (first_ == 0) first_ = last_ = os::Seconds();
  const double due = std::min(last_ + kQuietMilliseconds / 1000.0,
                              first_ + kLongestGatherMilliseconds / 1000.0);
  const double left = due - os::Seconds();
  return left <= 0 ? 0 : static_cast<unsigned>(left * 1000) + 1;
}

bool ChangeFilter::NameLess::operator()(const std::string& a, const std::string& b) const {
  if (!anyCase) return a < b;
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(AsciiLower(x)) < static_cast<unsigned char>(AsciiLower(y));
  });
}

ChangeFilter::ChangeFilter(const os::ChangeTraits& traits, Unwatch unwatch)
    : traits_(traits), unwatch_(std::move(unwatch)), watched_(NameLess{traits.namesAnyCase}) {}

bool ChangeFilter::Watching(const std::string& folder, uint64_t identity) {
  const auto [at, added] = watched_.insert({folder, identity});
  at->second = identity;
  return added;
}

bool ChangeFilter::Knows(const std::string& folder) const { return watched_.count(folder) != 0; }

uint64_t ChangeFilter::IdentityOf(const std::string& folder) const {
  const auto at = watched_.find(folder);
  return at == watched_.end() ? 0 : at->second;
}

void ChangeFilter::Forget(const std::string& folder) {
  const std::vector<std::string> gone = Watched(folder);
  if (gone.empty()) return;
  for (const std::string& watched : gone) watched_.erase(watched);
  if (unwatch_) unwatch_(folder);
}

std::vector<std::string> ChangeFilter::Watched(const std::string& folder) const {
  // Names that begin alike lie together ("a", "a b", "a\c"), a sub-tree
  // among them.
  std::vector<std::string> watched;
  for (auto it = watched_.lower_bound(folder);
       it != watched_.end() &&
       SameName(std::string_view(it->first).substr(0, folder.size()), folder);
       ++it) {
    if (Within(it->first, folder, traits_.namesAnyCase)) watched.push_back(it->first);
  }
  return watched;
}

bool ChangeFilter::SameName(std::string_view a, std::string_view b) const {
  return SameText(a, b, traits_.namesAnyCase);
}

bool ChangeFilter::IsManifestName(std::string_view name) const {
  return SameName(name, rules::kZenterManifest) || SameName(name, rules::kModManifest);
}

// A temporary file of the tools' own is no change, nor is its rename into
// place (a manifest written). Only a file: a user's folder or link may carry
// such a name.
bool ChangeFilter::IsOwnTemporary(const os::RawChange& change, bool folder) {
  if (folder || change.entry == os::EntryKind::Link || !rules::IsTemporaryFileName(change.name)) {
    return false;
  }
  if (change.kind == os::ChangeKind::RenamedFrom && change.renameCookie != 0) {
    ownRenames_.insert(change.renameCookie);
  }
  return true;
}

ChangeFilter::Outcome ChangeFilter::TakeFolderItself(const os::RawChange& change) {
  if (change.folder.empty()) {
    return change.kind == os::ChangeKind::FolderGone ? Outcome::RootRemoved : Outcome::RootMoved;
  }
  // Below ROOT the parent's own change tells of it.
  if (change.kind == os::ChangeKind::FolderGone) Forget(change.folder);
  return Outcome::Nothing;
}

ChangeFilter::Outcome ChangeFilter::Take(const os::RawChange& change) {
  using Kind = os::ChangeKind;
  if (change.kind == Kind::Lost) {
    rescan_ = true;
    return Outcome::Relevant;
  }
  if (change.kind == Kind::FolderGone || change.kind == Kind::FolderMoved) {
    return TakeFolderItself(change);
  }
  // A folder the walk does not visit (hidden, excluded, beneath a link)
  // has no manifest of ours; a new folder is walked through its parent.
  if (change.name.empty() || !Knows(change.folder)) return Outcome::Nothing;
  const std::string path = ChildFolder(change.folder, change.name);
  const bool folder = change.entry == os::EntryKind::Folder ||
                      (change.entry == os::EntryKind::Unknown && Knows(path));
  if (IsOwnTemporary(change, folder)) return Outcome::Nothing;
  // A rename into place is the tools' own write. Anything done to a
  // manifest after it is looked at again: its update compares the bytes,
  // so the tools' own writes cost a comparison and a hand edit is undone.
  if (change.kind == Kind::RenamedTo && change.renameCookie != 0 &&
      ownRenames_.erase(change.renameCookie) != 0) {
    return Outcome::Nothing;
  }
  const bool ignoreFile = !folder && SameName(change.name, kIgnoreFileName);
  // A name holding '\' is never visited nor included, and no relative path
  // could name it.
  const bool nameable = change.name.find('\\') == std::string::npos;
  switch (change.kind) {
    case Kind::Created:
    case Kind::RenamedTo:
      AddChange(&pending_, {change.folder, ignoreFile});
      if (folder && nameable) {
        AddChange(&pending_, {path, true});
        if (change.kind == Kind::RenamedTo && traits_.staleAfterFolderRename) startOver_ = true;
      }
      return Outcome::Relevant;
    case Kind::Removed:
    case Kind::RenamedFrom:
      AddChange(&pending_, {change.folder, ignoreFile});
      if (nameable) Forget(path);
      return Outcome::Relevant;
    case Kind::Modified:
      // A folder's own time changes with its contents, and a file's bytes
      // are no name: only an edited manifest or ignore file counts.
      if (folder || !(ignoreFile || IsManifestName(change.name))) return Outcome::Nothing;
      AddChange(&pending_, {change.folder, ignoreFile});
      return Outcome::Relevant;
    case Kind::AttributesChanged:
      // A folder made hidden (or no longer) leaves (or joins) its parent's
      // manifest; one made unreadable fails its update, as a run would; one
      // not watched till now is walked. (Linux tells a new sub-folder so.)
      if (!folder || !nameable) return Outcome::Nothing;
      AddChange(&pending_, {change.folder, false});
      AddChange(&pending_, {path, !Knows(path)});
      return Outcome::Relevant;
    default:
      return Outcome::Nothing;
  }
}

os::ChangeWait ChangeFilter::NextBatch(os::ChangeSource& source, ChangeBatch* batch,
                                       std::string* problem, const Tick* tick) {
  Gathering gathering;
  double nextTick = tick != nullptr ? os::Seconds() + tick->seconds : 0;
  for (;;) {
    int timeout = -1;
    if (Pending()) {
      timeout = static_cast<int>(gathering.MillisecondsLeft());
      if (timeout == 0) break;
    }
    if (tick != nullptr) {
      const int untilTick = static_cast<int>(std::max(0.0, nextTick - os::Seconds()) * 1000) + 1;
      timeout = timeout < 0 ? untilTick : std::min(timeout, untilTick);
    }
    std::vector<os::RawChange> changes;
    const os::ChangeWait waited = source.Wait(timeout, &changes, problem);
    if (waited == os::ChangeWait::Interrupted || waited == os::ChangeWait::Failed) return waited;
    bool relevant = false;
    if (!TakeAll(source, changes, &relevant, problem)) return os::ChangeWait::Failed;
    if (tick != nullptr && os::Seconds() >= nextTick) {
      const bool pending = Pending();
      if (!tick->run(problem)) return os::ChangeWait::Failed;
      relevant = relevant || (!pending && Pending());
      nextTick = os::Seconds() + tick->seconds;
    }
    if (relevant) gathering.Noted();
  }
  HandOut(batch);
  return os::ChangeWait::Changes;
}

// Passes what the source reported through the rules. False, with *problem
// set, when the watch cannot go on.
bool ChangeFilter::TakeAll(os::ChangeSource& source, const std::vector<os::RawChange>& changes,
                           bool* relevant, std::string* problem) {
  for (const os::RawChange& change : changes) {
    switch (Take(change)) {
      case Outcome::Relevant: *relevant = true; break;
      case Outcome::RootRemoved: *problem = kRootRemoved; return false;
      case Outcome::RootMoved: *problem = kRootMoved; return false;
      case Outcome::Nothing: break;
    }
  }
  if (!startOver_) return true;
  // The source starts over; what changed while it was blind is found by
  // looking at the whole tree again.
  startOver_ = false;
  rescan_ = true;
  *relevant = true;
  return source.StartOver(problem);
}

void ChangeFilter::HandOut(ChangeBatch* batch) {
  batch->rescanAll = rescan_;
  batch->changes.clear();
  if (!rescan_) batch->changes.swap(pending_);
  pending_.clear();
  rescan_ = false;
  // A rename's two halves are queued together: a cookie left over belongs
  // to a temporary file moved out of the tree.
  ownRenames_.clear();
}

}  // namespace tree
