#include "tree/poller.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/path_parts.h"
#include "tree/ignore_file.h"

namespace tree {
namespace {

constexpr int64_t kSecond = 1000000000;

int64_t WallNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Poller::Stamps Poller::Take(const os::FolderHandle& handle, std::string_view manifest) {
  Stamps stamps;
  stamps.manifestName = std::string(manifest);
  stamps.takenAt = WallNanoseconds();
  // A file that is not there keeps the empty stamp, so that its coming is a
  // change.
  access_.Stamp(handle, "", &stamps.folder);
  access_.Stamp(handle, manifest, &stamps.manifest);
  access_.Stamp(handle, kIgnoreFileName, &stamps.ignoreFile);
  return stamps;
}

// Whether a change may still hide behind an unchanged stamp: a file
// system's times are coarse (FAT's 2 s; others the kernel's clock tick),
// so a change made within the same tick as the last one leaves the time as
// it was. A stamp is trusted once it is older, by the clock the stamp was
// taken on, than its granularity and a margin for a share's clock.
bool Poller::Racy(const Stamps& stamps) {
  int64_t latest = 0;
  for (const os::FileStamp* stamp : {&stamps.folder, &stamps.manifest, &stamps.ignoreFile}) {
    latest = std::max(latest, stamp->written);
  }
  const bool coarse = stamps.folder.written % kSecond == 0;
  return stamps.takenAt < latest + (coarse ? 3 : 1) * kSecond;
}

void Poller::Add(const std::string& folder, const os::FolderHandle& handle,
                 std::string_view manifest) {
  polled_[folder] = Take(handle, manifest);
}

void Poller::Forget(const std::string& folder) {
  for (auto it = polled_.lower_bound(folder);
       it != polled_.end() && it->first.compare(0, folder.size(), folder) == 0;) {
    if (Within(it->first, folder)) {
      it = polled_.erase(it);
    } else {
      ++it;
    }
  }
}

void Poller::Pass(const os::FolderHandle& root, const std::function<void(FolderChange)>& changed) {
  for (auto& [folder, stamps] : polled_) {
    os::FolderHandle handle;
    if (access_.OpenBeneath(root, folder, &handle) != 0) {
      // Gone, or no longer to be entered: its parent's listing tells.
      if (!folder.empty()) changed({std::string(os::PathParent(folder)), false});
      changed({folder, true});
      continue;
    }
    const Stamps now = Take(handle, stamps.manifestName);
    const bool names = now.folder != stamps.folder || Racy(stamps);
    const bool ignoreFile = now.ignoreFile != stamps.ignoreFile;
    if (names || ignoreFile || now.manifest != stamps.manifest) {
      changed({folder, ignoreFile});
      if (names) NewSubFolders(folder, handle, changed);
    }
    stamps = now;
  }
}

// Names moved in the folder: a sub-folder not polled yet has come.
void Poller::NewSubFolders(const std::string& folder, const os::FolderHandle& handle,
                           const std::function<void(FolderChange)>& changed) {
  std::vector<os::ListedEntry> entries;
  if (access_.List(handle, &entries) != 0) return;
  for (const os::ListedEntry& entry : entries) {
    if ((entry.attributes & os::kAttrDirectory) == 0 || (entry.attributes & os::kAttrLink) != 0 ||
        entry.name.find('\\') != std::string::npos) {
      continue;
    }
    const std::string child = ChildFolder(folder, entry.name);
    if (!Polls(child)) changed({child, true});
  }
}

}  // namespace tree
