#include "tree/manifest_writer.h"

#include "platform/process_control.h"
#include "rules/refused_target.h"
#include "rules/temporary_file_name.h"

namespace tree {
namespace {

// How often a rename that another process is in the way of is tried, and
// how long to wait in between: a concurrent run holds a manifest only while
// it reads or replaces it.
constexpr int kRenameAttempts = 20;
constexpr unsigned kRenamePauseMilliseconds = 25;

// Attempts at a free temporary name before giving up.
constexpr int kTemporaryNameAttempts = 100;

}  // namespace

ManifestWriter::ManifestWriter(os::FolderAccess& access, Done done, size_t batchSize)
    : access_(access), done_(std::move(done)), batchSize_(batchSize > 0 ? batchSize : 1) {}

ManifestWriter::~ManifestWriter() { Abandon(); }

bool ManifestWriter::Stage(FolderRef folder, std::string_view targetName,
                           const std::string& bytes, ManifestLabel label,
                           WriteFailure* failure) {
  *failure = WriteFailure{};
  if ((failure->refused = rules::RefusedTarget(access_.FileAttributes(*folder, targetName)))) return false;
  const unsigned long pid = os::Os().GetCurrentProcessId();
  // Everything the entry needs is made before its file, and room for it,
  // so that running out of memory never leaves a file nobody knows of.
  Staged entry{std::move(folder), os::StagedFile(), std::string(targetName), std::move(label)};
  staged_.reserve(staged_.size() + 1);
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    failure->error = access_.Stage(*entry.folder, rules::TemporaryFileName(rules::TemporaryFileWriter::TreeTool, pid, counter_++), bytes, &entry.file);
    if (failure->error == os::kErrorFileExists) continue;
    if (failure->error != 0) return false;
    staged_.push_back(std::move(entry));
    if (staged_.size() >= batchSize_) Commit();
    return true;
  }
  return false;
}

void ManifestWriter::Commit() {
  if (staged_.empty()) return;
  // The batch stays in staged_ until each file is settled (renamed, or
  // removed after a failure): should memory run out part way, Abandon still
  // removes the files not yet settled.

  // Every byte on disk before any manifest is replaced, so a crash leaves
  // the old manifest or the new one, never an empty or partial file.
  std::vector<const os::FolderHandle*> folders;
  std::vector<const os::StagedFile*> files;
  folders.reserve(staged_.size());
  files.reserve(staged_.size());
  for (const Staged& s : staged_) {
    folders.push_back(s.folder.get());
    files.push_back(&s.file);
  }
  const os::Dword syncError = access_.Sync(folders, files);

  std::vector<const os::FolderHandle*> renamedIn;
  renamedIn.reserve(staged_.size());
  while (settled_ < staged_.size()) {
    Staged& s = staged_[settled_];
    WriteFailure failure;
    // A sync that failed for the batch (one folder of it removed on a FUSE
    // file system, one file system of several failing) is tried again file
    // by file, so that it costs only the manifests it failed for.
    if (syncError != 0) failure.error = SyncAlone(s);
    if (failure.error == 0) Replace(&s, &failure);
    const bool replaced = failure.error == 0 && failure.refused == nullptr;
    if (!replaced) access_.Discard(*s.folder, &s.file);
    ++settled_;
    if (replaced && (renamedIn.empty() || renamedIn.back() != s.folder.get())) {
      renamedIn.push_back(s.folder.get());
    }
    done_(s.label, replaced ? nullptr : &failure);
  }
  // Before the batch goes: it may hold the last reference to a folder.
  access_.SyncRenames(renamedIn);
  staged_.clear();
  settled_ = 0;
}

os::Dword ManifestWriter::SyncAlone(const Staged& s) {
  const os::Dword error = access_.Sync({s.folder.get()}, {&s.file});
  if (error != 0 && access_.Removed(*s.folder)) return os::kErrorPathNotFound;  // vanished
  return error;
}

// Renames the staged file over its target, unless the target has been
// made read-only (or the like) since; tries again for a while when another
// program holds the target.
void ManifestWriter::Replace(Staged* s, WriteFailure* failure) {
  auto refused = [&] { return rules::RefusedTarget(access_.FileAttributes(*s->folder, s->targetName)); };
  if ((failure->refused = refused())) return;
  for (int attempt = 1;; ++attempt) {
    failure->error = access_.Replace(*s->folder, &s->file, s->targetName);
    if (failure->error == 0 || !access_.HeldByAnother(failure->error)) return;
    if (attempt == kRenameAttempts || refused() != nullptr) return;
    os::SleepMilliseconds(kRenamePauseMilliseconds);
  }
}

void ManifestWriter::Abandon() {
  for (size_t i = settled_; i < staged_.size(); ++i) {
    access_.Discard(*staged_[i].folder, &staged_[i].file);
  }
  staged_.clear();
  settled_ = 0;
}

}  // namespace tree
