#include "tree/poller.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "tree/ignore_file.h"

namespace tree {
namespace {

constexpr int64_t kSecond = 1000000000;

}  // namespace

int64_t StampTime() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A file system's times are coarse (FAT's 2 s; others the kernel's clock
// tick), so a change made within the same tick as the last one leaves the
// time as it was. A stamp is trusted once it is older, by the clock the
// stamp was taken on, than its granularity and a margin for a share's
// clock.
bool MayHideAChange(const os::FileStamp& stamp, int64_t takenAt) {
  if (stamp.written == 0) return false;  // no file: its coming changes the stamp
  const bool coarse = stamp.written % kSecond == 0;
  return takenAt < stamp.written + (coarse ? 3 : 1) * kSecond;
}

Poller::Stamps Poller::Take(const os::FolderHandle& handle, std::string_view manifest) {
  Stamps stamps;
  stamps.manifestName = std::string(manifest);
  stamps.takenAt = StampTime();
  // A file that is not there keeps the empty stamp, so that its coming is a
  // change.
  access_.Stamp(handle, "", &stamps.folder);
  access_.Stamp(handle, manifest, &stamps.manifest);
  access_.Stamp(handle, kIgnoreFileName, &stamps.ignoreFile);
  return stamps;
}

void Poller::Add(const std::string& folder, const os::FolderHandle& handle,
                 std::string_view manifest) {
  polled_[folder] = Take(handle, manifest);
}

void Poller::Forget(const std::string& folder) {
  for (auto it = polled_.lower_bound(folder);
       it != polled_.end() && below::Within(it->first.substr(0, folder.size()), folder, rule_);) {
    if (below::Within(it->first, folder, rule_)) {
      it = polled_.erase(it);
    } else {
      ++it;
    }
  }
}

void Poller::Pass(const os::FolderHandle& root, std::vector<os::RawChange>* changes) {
  using os::ChangeKind;
  for (auto& [folder, stamps] : polled_) {
    os::FolderHandle handle;
    if (access_.OpenBeneath(root, folder, &handle) != 0) {
      // Gone, or no longer to be entered: its parent's listing tells.
      changes->push_back({ChangeKind::Lost, folder, ""});
      continue;
    }
    const Stamps now = Take(handle, stamps.manifestName);
    // Each stamp by its own time: an ignore file rewritten within its time's
    // tick redoes its sub-tree, as one whose stamp moved does.
    auto moved = [&](const os::FileStamp& was, const os::FileStamp& is) {
      return is != was || MayHideAChange(was, stamps.takenAt);
    };
    if (moved(stamps.folder, now.folder)) {
      changes->push_back({ChangeKind::Modified, folder, ""});
      NewSubFolders(folder, handle, changes);
    }
    if (moved(stamps.ignoreFile, now.ignoreFile)) {
      changes->push_back({ChangeKind::Modified, folder, std::string(kIgnoreFileName), os::EntryKind::File});
    }
    if (moved(stamps.manifest, now.manifest)) {
      changes->push_back({ChangeKind::Modified, folder, stamps.manifestName, os::EntryKind::File});
    }
    stamps = now;
  }
}

// Names moved in the folder: a sub-folder not polled yet has come.
void Poller::NewSubFolders(const std::string& folder, const os::FolderHandle& handle,
                           std::vector<os::RawChange>* changes) {
  std::vector<os::ListedEntry> entries;
  if (access_.List(handle, &entries) != 0) return;
  for (const os::ListedEntry& entry : entries) {
    if ((entry.attributes & os::kAttrDirectory) == 0 || (entry.attributes & os::kAttrLink) != 0 ||
        !below::Nameable(entry.name)) {
      continue;
    }
    if (!Polls(below::Join(folder, entry.name))) {
      changes->push_back({os::ChangeKind::Created, folder, entry.name, os::EntryKind::Folder});
    }
  }
}

}  // namespace tree
