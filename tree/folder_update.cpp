#include "tree/folder_update.h"

#include <algorithm>

#include "rules/manifest_document.h"
#include "rules/manifest_rule.h"
#include "platform/process_control.h"
#include "tree/report_words.h"
#include "tree/ignore_file.h"
#include "tree/leftovers.h"
#include "tree/manifest_diff.h"

namespace tree {
namespace {

// A manifest another program holds (a concurrent run replacing it, a virus
// scanner) is read again for this long in all, then reported.
constexpr double kHeldManifestSeconds = 0.5;
constexpr unsigned kHeldPauseMilliseconds = 25;
// Checking, a stale manifest is read whole, up to this size, to list the
// lines that writing it would change; a larger one is no list of includes.
constexpr size_t kLargestCompared = size_t{16} << 20;

}  // namespace

WalkFolder MakeWalkFolder(const WalkFolder* parent, std::string name, std::string shownRoot) {
  WalkFolder folder;
  if (parent == nullptr) {
    folder.shown = std::move(shownRoot);
  } else {
    folder.relative = below::Join(parent->relative, name);
    folder.shown = Shown(parent->shown, name);
  }
  folder.manifestName = rules::ManifestNameFor(name);
  folder.shownManifest = Shown(folder.shown, folder.manifestName);
  folder.name = std::move(name);
  return folder;
}

std::string_view FolderUpdate::IgnoreFile() const {
  for (const os::ListedEntry& e : listed_) {
    if ((e.attributes & os::kAttrDirectory) == 0 && IsIgnoreFileName(e.name)) return e.name;
  }
  return {};
}

void FolderUpdate::RemoveLeftovers(const os::FolderHandle& folder, const std::string& shown) {
  RemoveLeftoverFiles(run_, folder, listed_, shown);
}

std::vector<SubFolder> FolderUpdate::Update(const WalkFolder& folder,
                                            const std::shared_ptr<os::FolderHandle>& handle,
                                            const SkipRules& rules, const WalkFolder* parent) {
  ReadListing(listed_, folder.manifestName, rules, &listing_);
  run_.reporter.Listed(folder.relative, listing_.listed);
  WarnOfListing(folder, parent);

  const std::string wanted = RenderManifest(listing_);
  // As far as it can still be equal: a huge stale file costs nothing.
  os::Dword error = ReadManifest(*handle, folder.manifestName, wanted.size() + 1);
  if (run_.options.check && error == 0 && onDisk_.size() > wanted.size()) {
    error = ReadManifest(*handle, folder.manifestName, kLargestCompared + 1);
  }
  const bool missing = error == os::kErrorFileNotFound;
  if (error == 0 && onDisk_ == wanted) {
    ++run_.tally.current;
    run_.reporter.Current(folder.relative, folder.shownManifest);
  } else if (error != 0 && !missing && error != os::kErrorIsLink) {
    // A link is stale: it is replaced by a regular file, never read.
    run_.Fail(folder.relative, Failure(FailCode::CannotRead, {folder.shownManifest}, error));
  } else if (run_.options.check) {
    ++run_.tally.changed;
    ReportChanges(folder, missing, error == 0, wanted);
  } else {
    WriteFailure failure;
    ManifestLabel label{folder.relative, folder.shownManifest};
    if (!run_.writer.Stage(handle, folder.manifestName, wanted, label, &failure)) {
      run_.ManifestDone(label, &failure);
    }
  }
  return std::move(listing_.subFolders);
}

// Warns of what the folder's manifest cannot do: a "Data" folder's own
// manifest that its parent's does not include, and names left out.
void FolderUpdate::WarnOfListing(const WalkFolder& folder, const WalkFolder* parent) {
  if (parent != nullptr && folder.manifestName == rules::kModManifest) {
    if (rules::CanCarrySubFolder(folder.name)) {
      run_.Warn(folder.relative,
                Warning(WarnCode::DataManifest, {folder.shownManifest, folder.shown, parent->shownManifest,
                                                 rules::SubFolderEntry(folder.name)}));
    }
  }
  for (const LeftOut& out : listing_.leftOut) {
    run_.Warn(folder.relative,
              Warning(WarnCode::LeftOut, {Shown(folder.shown, out.name), folder.shownManifest, out.reason}));
  }
}

// Reads the manifest into onDisk_, at most limit bytes, waiting for a while
// if another program holds it.
os::Dword FolderUpdate::ReadManifest(const os::FolderHandle& folder, std::string_view name,
                                     size_t limit) {
  const double start = os::Seconds();
  for (;;) {
    const os::Dword error = run_.access.ReadFile(folder, name, limit, &onDisk_);
    if (error != os::kErrorSharingViolation || os::Seconds() - start >= kHeldManifestSeconds) {
      return error;
    }
    os::SleepMilliseconds(kHeldPauseMilliseconds);
  }
}

void FolderUpdate::ReportChanges(const WalkFolder& folder, bool missing, bool read,
                                 const std::string& wanted) {
  IncludeChanges changes;
  if (read && onDisk_.size() > kLargestCompared) {
    changes.notCompared = "larger than 16 MiB; its lines are not compared";
    changes.tooLarge = true;
  } else {
    changes = CompareIncludes(read ? std::string_view(onDisk_) : std::string_view(), wanted);
  }
  run_.reporter.Stale(folder.relative, folder.shownManifest, missing, changes);
}

}  // namespace tree
