#include "tree/change_filter.h"

#include <algorithm>

#include "rules/manifest_rule.h"
#include "rules/temporary_file_name.h"
#include "tree/ignore_file.h"
#include "tree/watch_registry.h"

namespace tree {
void AddChange(std::vector<FolderChange>* changes, FolderChange change) {
  for (const FolderChange& held : *changes) {
    if (held.subTree ? below::Within(change.folder, held.folder)
                     : held.folder == change.folder && !change.subTree) {
      return;
    }
  }
  if (change.subTree) {
    std::erase_if(*changes,
                  [&](const FolderChange& held) { return below::Within(held.folder, change.folder); });
  }
  const auto at = std::lower_bound(
      changes->begin(), changes->end(), change,
      [](const FolderChange& a, const FolderChange& b) { return a.folder < b.folder; });
  changes->insert(at, std::move(change));
}

bool ChangeFilter::Knows(const std::string& folder) const { return watched_.Knows(folder); }

bool ChangeFilter::IsManifestName(std::string_view name) const {
  return SameName(name, rules::kZenterManifest, rule_) || SameName(name, rules::kModManifest, rule_);
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

// A change that names no name in the folder: of the folder itself.
ChangeMeaning ChangeFilter::TakeFolderItself(const os::RawChange& change) const {
  using Outcome = ChangeMeaning::Outcome;
  const std::string& folder = change.folder;
  ChangeMeaning meaning;
  switch (change.kind) {
    case os::ChangeKind::Lost:
      // Anything at or beneath the folder may have changed, its being there
      // too (the whole tree, for ROOT).
      if (folder.empty()) {
        meaning.rescanAll = true;
      } else if (Knows(folder)) {
        meaning.redo = {{std::string(below::Parent(folder)), false}, {folder, true}};
      } else {
        return meaning;
      }
      meaning.outcome = Outcome::Relevant;
      return meaning;
    case os::ChangeKind::Modified:
      // Its names moved, which ones unsaid (as a poll finds).
      if (!Knows(folder)) return meaning;
      meaning.outcome = Outcome::Relevant;
      meaning.redo = {{folder, false}};
      return meaning;
    case os::ChangeKind::FolderGone:
      if (folder.empty()) meaning.outcome = Outcome::RootRemoved;
      // Below ROOT the parent's own change tells of it.
      else meaning.forget = {folder};
      return meaning;
    case os::ChangeKind::FolderMoved:
      if (folder.empty()) meaning.outcome = Outcome::RootMoved;
      return meaning;
    case os::ChangeKind::FolderUnmounted:
      // Below ROOT the mount table's change tells what it uncovered.
      if (folder.empty()) meaning.outcome = Outcome::RootUnmounted;
      else meaning.forget = {folder};
      return meaning;
    default:
      return meaning;
  }
}

ChangeMeaning ChangeFilter::Take(const os::RawChange& change) {
  if (change.name.empty() || change.kind == os::ChangeKind::Lost) return TakeFolderItself(change);
  // A folder the walk does not visit (hidden, excluded, beneath a link)
  // has no manifest of ours; a new folder is walked through its parent.
  if (!Knows(change.folder)) return {};
  const std::string path = below::Join(change.folder, change.name);
  const bool folder = change.entry == os::EntryKind::Folder ||
                      (change.entry == os::EntryKind::Unknown && Knows(path));
  if (IsOwnTemporary(change, folder)) return {};
  // A rename into place is the tools' own write. Anything done to a
  // manifest after it is looked at again: its update compares the bytes,
  // so the tools' own writes cost a comparison and a hand edit is undone.
  // A file of such a name renamed to any other name is a user's: the new
  // name is what counts.
  if (change.kind == os::ChangeKind::RenamedTo && change.renameCookie != 0 &&
      ownRenames_.erase(change.renameCookie) != 0 && !folder && IsManifestName(change.name)) {
    return {};
  }
  return TakeName(change, path, folder);
}

// A change to one name in a watched folder; path: the name's, below ROOT.
ChangeMeaning ChangeFilter::TakeName(const os::RawChange& change, const std::string& path,
                                     bool folder) const {
  using Kind = os::ChangeKind;
  const bool ignoreFile = !folder && SameName(change.name, kIgnoreFileName, rule_);
  // A name holding '\' is never visited nor included, and no relative path
  // could name it.
  const bool nameable = below::Nameable(change.name);
  ChangeMeaning meaning;
  meaning.outcome = ChangeMeaning::Outcome::Relevant;
  switch (change.kind) {
    case Kind::Created:
    case Kind::RenamedTo:
      meaning.redo = {{change.folder, ignoreFile}};
      if (folder && nameable) {
        meaning.redo.push_back({path, true});
        meaning.startOver = change.kind == Kind::RenamedTo && traits_.staleAfterFolderRename;
      }
      return meaning;
    case Kind::Removed:
    case Kind::RenamedFrom:
      meaning.redo = {{change.folder, ignoreFile}};
      if (nameable) meaning.forget = {path};
      return meaning;
    case Kind::Modified:
      // A folder's own time changes with its contents, and a file's bytes
      // are no name: only an edited manifest or ignore file counts.
      if (folder || !(ignoreFile || IsManifestName(change.name))) return {};
      meaning.redo = {{change.folder, ignoreFile}};
      return meaning;
    case Kind::AttributesChanged:
      // A folder made hidden (or no longer) leaves (or joins) its parent's
      // manifest; one made unreadable fails its update, as a run would; one
      // not watched till now is walked. (Linux tells a new sub-folder so.)
      if (!folder || !nameable) return {};
      meaning.redo = {{change.folder, false}, {path, !Knows(path)}};
      return meaning;
    default:
      return {};
  }
}

}  // namespace tree
