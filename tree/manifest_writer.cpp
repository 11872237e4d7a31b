#include "tree/manifest_writer.h"

#include <algorithm>
#include <cstdio>

#include "platform/tree_os.h"
#include "tree/folder_listing.h"

namespace tree {
namespace {

// How often a rename that another process is in the way of is tried, and
// how long to wait in between: a concurrent run holds a manifest only while
// it reads or replaces it.
constexpr int kRenameAttempts = 20;
constexpr unsigned kRenamePauseMilliseconds = 25;

// A temporary file kept open until its rename may be read meanwhile (by a
// concurrent run, once it is the manifest) and renamed over.
constexpr os::Dword kShareReadDelete = 0x1 | 0x4;

// Attempts at a free temporary name before giving up.
constexpr int kTemporaryNameAttempts = 100;

const char* RefusedTarget(os::Dword attributes) {
  if (attributes == os::kInvalidFileAttributes) return nullptr;
  // As the per-folder program: a rename would silently replace a read-only,
  // hidden or system file, which a plain create refuses.
  if (attributes & os::kAttrDirectory) return "is a folder";
  if (attributes & os::kAttrReadOnly) return "is read-only";
  if (attributes & os::kAttrHidden) return "is hidden";
  if (attributes & os::kAttrSystem) return "is a system file";
  return nullptr;
}

bool WriteAll(os::Handle file, const std::string& bytes) {
  const os::Platform& platform = os::Os();
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t chunk = std::min<size_t>(bytes.size() - done, 1u << 30);
    os::Dword written = 0;
    if (!platform.WriteFile(file, bytes.data() + done, static_cast<os::Dword>(chunk), &written,
                            nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

std::string ManifestWriter::TemporaryName(unsigned long pid, unsigned long n) {
  char name[48];
  std::snprintf(name, sizeof name, "~mmt%lx-%lu.tmp", pid, n);
  return name;
}

ManifestWriter::ManifestWriter(Done done, size_t batchSize, Sync sync, bool keepOpen)
    : done_(std::move(done)),
      batchSize_(batchSize > 0 ? batchSize : 1),
      sync_(std::move(sync)),
      keepOpen_(keepOpen) {}

ManifestWriter::~ManifestWriter() { Abandon(); }

bool ManifestWriter::Stage(FolderRef folder, const std::string& folderPath,
                           std::string_view targetName, const std::string& bytes,
                           const std::string& label, WriteFailure* failure) {
  const os::Platform& platform = os::Os();
  *failure = WriteFailure{};
  const bool relative = folder && folder->valid() && os::tree::RelativeFiles();
  const std::string target = JoinPath(folderPath, targetName);
  const os::Dword targetAttributes =
      relative ? os::tree::AttributesIn(*folder, targetName)
               : platform.GetFileAttributesA(target.c_str());
  if ((failure->refused = RefusedTarget(targetAttributes))) return false;
  const unsigned long pid = platform.GetCurrentProcessId();
  os::SecurityAttributes security{static_cast<os::Dword>(sizeof(os::SecurityAttributes)),
                                  nullptr, 0};
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::string temporaryName = TemporaryName(pid, counter_++);
    if (relative) {
      // Created relative to the folder's handle, never through a link.
      intptr_t file = -1;
      failure->error = os::tree::CreateNewFileIn(*folder, temporaryName, &file);
      if (failure->error == os::kErrorFileExists) continue;
      if (failure->error != 0) return false;
      // Registered before the first byte, so an interrupt finds it.
      staged_.push_back({folder, folderPath, temporaryName, std::string(targetName), label,
                         nullptr, true});
      failure->error = os::tree::WriteAndClose(file, bytes);
      if (failure->error != 0) {
        Remove(staged_.back());
        staged_.pop_back();
        return false;
      }
      if (staged_.size() >= batchSize_) Commit();
      return true;
    }
    const std::string temporary = JoinPath(folderPath, temporaryName);
    // CREATE_NEW never opens a file someone else made.
    os::Handle file = platform.CreateFileA(
        temporary.c_str(), keepOpen_ ? os::tree::TemporaryAccess() : os::kGenericWrite,
        keepOpen_ ? kShareReadDelete : 0, &security, os::kCreateNew, os::kAttrNormal, nullptr);
    if (file == os::InvalidHandle()) {
      failure->error = platform.GetLastError();
      if (failure->error == os::kErrorFileExists || failure->error == os::kErrorAlreadyExists) {
        continue;
      }
      return false;
    }
    if (keepOpen_ && !os::tree::MarkForDeletion(file, true)) {
      failure->error = platform.GetLastError();
      platform.CloseHandle(file);
      platform.DeleteFileA(temporary.c_str());
      return false;
    }
    // Registered before the first byte, so an interrupt finds it.
    staged_.push_back({folder, folderPath, temporaryName, std::string(targetName), label,
                       keepOpen_ ? file : nullptr, false});
    const bool written = WriteAll(file, bytes);
    if (!written) failure->error = platform.GetLastError();
    // A failed close counts as closed, but what it should have stored is in
    // doubt.
    const bool closed = keepOpen_ ? written : platform.CloseHandle(file) != 0;
    if (written && !closed) failure->error = platform.GetLastError();
    if (!written || !closed) {
      if (keepOpen_) platform.CloseHandle(file);
      platform.DeleteFileA(temporary.c_str());
      staged_.pop_back();
      return false;
    }
    if (staged_.size() >= batchSize_) Commit();
    return true;
  }
  return false;
}

void ManifestWriter::Remove(const Staged& s) {
  if (s.relative) {
    os::tree::DeleteIn(*s.folder, s.temporaryName);
  } else if (s.file != nullptr) {
    // A file kept open is still marked for deletion: closing removes it.
    os::Os().CloseHandle(s.file);
  } else {
    os::Os().DeleteFileA(JoinPath(s.folderPath, s.temporaryName).c_str());
  }
}

void ManifestWriter::Commit() {
  if (staged_.empty()) return;
  const os::Platform& platform = os::Os();
  std::vector<Staged> batch;
  batch.swap(staged_);

  // Every byte on disk before any manifest is replaced, so a crash leaves
  // the old manifest or the new one, never an empty or partial file. A file
  // kept open is flushed as it replaces its target.
  os::Dword syncError = 0;
  if (!keepOpen_) {
    std::vector<std::string> temporaries;
    std::vector<const os::tree::FolderHandle*> folders;
    temporaries.reserve(batch.size());
    for (const Staged& s : batch) {
      temporaries.push_back(JoinPath(s.folderPath, s.temporaryName));
      folders.push_back(s.folder.get());
    }
    syncError = sync_(temporaries, folders);
  }

  std::vector<const os::tree::FolderHandle*> renamedIn;
  for (Staged& s : batch) {
    WriteFailure failure;
    bool replaced = false;
    const std::string target = JoinPath(s.folderPath, s.targetName);
    auto targetAttributes = [&] {
      return s.relative ? os::tree::AttributesIn(*s.folder, s.targetName)
                        : platform.GetFileAttributesA(target.c_str());
    };
    if (syncError != 0) {
      failure.error = syncError;
    } else if ((failure.refused = RefusedTarget(targetAttributes()))) {
      // Made read-only (or the like) since it was staged.
    } else {
      for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
        if (s.relative) {
          failure.error = os::tree::RenameIn(*s.folder, s.temporaryName, s.targetName);
          replaced = failure.error == 0;
        } else if (keepOpen_) {
          replaced = os::tree::ReplaceByHandle(s.file, target, &failure.error);
        } else {
          replaced = platform.MoveFileExA(JoinPath(s.folderPath, s.temporaryName).c_str(),
                                          target.c_str(), os::kMoveReplaceExisting) != 0;
          if (!replaced) failure.error = platform.GetLastError();
        }
        if (replaced) break;
        // Another program holds the manifest for a moment (a concurrent run
        // reading or replacing it): try again shortly. Windows reports that
        // as a sharing violation or a denied access.
        if (failure.error != os::kErrorSharingViolation &&
            (s.relative || failure.error != os::kErrorAccessDenied)) {
          break;
        }
        if (RefusedTarget(targetAttributes())) break;
        os::tree::SleepMilliseconds(kRenamePauseMilliseconds);
      }
    }
    if (replaced) {
      // A file kept open has become the manifest: closing it keeps it.
      if (s.file != nullptr) platform.CloseHandle(s.file);
      if (s.folder && (renamedIn.empty() || renamedIn.back() != s.folder.get())) {
        renamedIn.push_back(s.folder.get());
      }
      done_(s.label, nullptr);
    } else {
      Remove(s);
      done_(s.label, &failure);
    }
  }
  os::tree::SyncFolders(renamedIn);
}

void ManifestWriter::Abandon() {
  for (const Staged& s : staged_) Remove(s);
  staged_.clear();
}

}  // namespace tree
