// Replaces manifests the way the per-folder program does, in batches: each
// manifest's bytes go to a new temporary file in its folder; once a batch of
// them is written, one sync puts them all on disk, and only then does each
// take its target's place in one rename. A failure leaves the target exactly
// as it was and removes the temporary file.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/tree_os.h"

namespace tree {

// Why a replace failed: the Win32 error, or a refused target.
struct WriteFailure {
  os::Dword error = 0;
  const char* refused = nullptr;  // "is read-only", ... when the target was refused
};

class ManifestWriter {
 public:
  // done(label, failure) is called once for every staged manifest, with the
  // label it was staged with, when its batch is committed; failure is null
  // when the manifest was replaced.
  using Done = std::function<void(const std::string& label, const WriteFailure* failure)>;

  // sync puts the bytes of closed files on disk (os::tree::SyncFiles): the
  // temporary files by path, and the folders that hold them. 0, or the
  // Win32 error.
  using Sync = std::function<os::Dword(const std::vector<std::string>& paths,
                                       const std::vector<const os::tree::FolderHandle*>& folders)>;
  using FolderRef = std::shared_ptr<const os::tree::FolderHandle>;

  // keepOpen: each temporary file stays open, marked for deletion, until it
  // replaces its target by handle (os::tree::TemporaryStaysOpen); sync is
  // then not used. Otherwise temporary files are closed once written.
  ManifestWriter(Done done, size_t batchSize, Sync sync, bool keepOpen);
  // Removes the temporary files of a batch that was never committed.
  ~ManifestWriter();
  ManifestWriter(const ManifestWriter&) = delete;
  ManifestWriter& operator=(const ManifestWriter&) = delete;

  // Writes bytes to a temporary file in the folder (its full path, and its
  // handle, through which the files are made where the platform makes them
  // relative to it; an empty handle: by path) for the file targetName there.
  // False, with *failure set, when the target is refused or the temporary
  // file cannot be written. The staged file keeps the folder's handle until
  // its batch is committed, which happens when the batch is full.
  bool Stage(FolderRef folder, const std::string& folderPath, std::string_view targetName,
             const std::string& bytes, const std::string& label, WriteFailure* failure);
  // How many manifests are staged and not yet committed.
  size_t StagedCount() const { return staged_.size(); }
  // Syncs the staged files, renames each over its target and reports each.
  void Commit();
  // Removes every staged temporary file; nothing is renamed.
  void Abandon();

  // The temporary name of the nth file this process stages: ~mmt<pid>-<n>.tmp
  // ('t' is no hex digit, so it never meets the per-folder program's
  // ~mm<pid>-<n>.tmp).
  static std::string TemporaryName(unsigned long pid, unsigned long n);

 private:
  struct Staged {
    FolderRef folder;
    std::string folderPath;
    std::string temporaryName;
    std::string targetName;
    std::string label;
    os::Handle file;  // open while keepOpen, else null
    bool relative;    // files made relative to folder's handle
  };
  void Remove(const Staged& s);
  Done done_;
  size_t batchSize_;
  Sync sync_;
  bool keepOpen_;
  std::vector<Staged> staged_;
  unsigned long counter_ = 0;
};

}  // namespace tree
