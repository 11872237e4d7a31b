// What both back-ends of the tree watch share: which names are the tools'
// own temporary files, the quiet period that gathers a burst, and the set
// of changes it gathers.
#include "platform/tree_watch.h"

#include <algorithm>

#include "platform/folder_access.h"
#include "platform/process_control.h"

namespace os::tree {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether folder is base or lies beneath it.
bool Within(std::string_view folder, std::string_view base) {
  if (base.empty()) return true;
  if (folder.size() < base.size() || folder.compare(0, base.size(), base) != 0) return false;
  return folder.size() == base.size() || folder[base.size()] == '\\';
}

}  // namespace

void Gathering::Noted() {
  last_ = Seconds();
  if (first_ == 0) first_ = last_;
}

unsigned Gathering::MillisecondsLeft() {
  if (first_ == 0) first_ = last_ = Seconds();
  const double due = std::min(last_ + kQuietMilliseconds / 1000.0,
                              first_ + kLongestGatherMilliseconds / 1000.0);
  const double left = due - Seconds();
  return left <= 0 ? 0 : static_cast<unsigned>(left * 1000) + 1;
}

void HandOut(WatchBatch* batch, std::vector<FolderChange>* pending, bool* rescan) {
  batch->rescanAll = *rescan;
  batch->changes.clear();
  if (!*rescan) batch->changes.swap(*pending);
  pending->clear();
  *rescan = false;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

bool IsToolTemporaryName(std::string_view name) {
  return name.size() >= 7 && SameNameIgnoringCase(name.substr(0, 3), "~mm") &&
         SameNameIgnoringCase(name.substr(name.size() - 4), ".tmp");
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

std::string ParentFolder(std::string_view path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::string ChildFolder(std::string_view folder, std::string_view name) {
  std::string child(folder);
  if (!child.empty()) child.push_back('\\');
  child.append(name);
  return child;
}

}  // namespace os::tree
