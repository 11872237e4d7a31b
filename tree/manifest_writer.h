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

#include "platform/folder_access.h"

namespace tree {

// Why a replace failed: the Win32 error, or a refused target.
struct WriteFailure {
  os::Dword error = 0;
  const char* refused = nullptr;  // "is read-only", ... when the target was refused
};

// Which manifest a staged file is for: its folder relative to ROOT and its
// path as the user sees it.
struct ManifestLabel {
  std::string folder;
  std::string shown;
};

class ManifestWriter {
 public:
  // done(label, failure) is called once for every staged manifest, with the
  // label it was staged with, when its batch is committed; failure is null
  // when the manifest was replaced.
  using Done = std::function<void(const ManifestLabel& label, const WriteFailure* failure)>;
  using FolderRef = std::shared_ptr<const os::FolderHandle>;

  // batchSize: at most this many staged files wait for one commit.
  ManifestWriter(os::FolderAccess& access, Done done, size_t batchSize);
  // Removes the temporary files of a batch that was never committed.
  ~ManifestWriter();
  ManifestWriter(const ManifestWriter&) = delete;
  ManifestWriter& operator=(const ManifestWriter&) = delete;

  // Writes bytes to a temporary file in the folder for the file targetName
  // there. False, with *failure set, when the target is refused or the
  // temporary file cannot be written. The staged file keeps the folder open
  // until its batch is committed, which happens when the batch is full.
  bool Stage(FolderRef folder, std::string_view targetName, const std::string& bytes,
             ManifestLabel label, WriteFailure* failure);
  // Syncs the staged files, renames each over its target and reports each.
  void Commit();
  // Removes every staged temporary file; nothing is renamed.
  void Abandon();

 private:
  struct Staged {
    FolderRef folder;
    os::StagedFile file;
    std::string targetName;
    ManifestLabel label;
  };
  os::Dword SyncAlone(const Staged& s);
  void Replace(Staged* s, WriteFailure* failure);

  os::FolderAccess& access_;
  Done done_;
  size_t batchSize_;
  std::vector<Staged> staged_;
  unsigned long counter_ = 0;
};

}  // namespace tree
