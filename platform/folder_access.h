// Folders and the files in them, worked on through open folders: a folder is
// opened relative to its parent without following a link, listed once, and
// its files are read, made, renamed over and removed through it, so that no
// path is looked up from the top again. Each back-end implements the whole
// interface: POSIX with descriptors (openat, renameat); Windows with handles
// (NtCreateFile relative to the folder's handle), each folder held without
// delete sharing, so that none on the way can be renamed or replaced while
// it is held. No caller asks which.
//
// Paths and names are the seam's narrow ones (UTF-8), with '\' separators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace os {

// An attribute bit beyond the seam's: the entry is a link (a symbolic link;
// on Windows any reparse point), which is never entered.
constexpr Dword kAttrLink = 0x400;

// An error of our own (bit 29 marks an application's): a named pipe, socket
// or device where a file is read.
constexpr Dword kErrorNotRegularFile = 0x20000001;

// An open folder and its full path. The handle (a descriptor, or a Windows
// handle) is closed with the object; -1: a folder known by its path alone.
class FolderHandle {
 public:
  FolderHandle() = default;
  FolderHandle(intptr_t native, std::string path) : native_(native), path_(std::move(path)) {}
  ~FolderHandle() {
    if (native_ != -1) Close(native_);
  }
  FolderHandle(FolderHandle&& other) noexcept
      : native_(other.native_), path_(std::move(other.path_)) {
    other.native_ = -1;
  }
  FolderHandle& operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
      if (native_ != -1) Close(native_);
      native_ = other.native_;
      path_ = std::move(other.path_);
      other.native_ = -1;
    }
    return *this;
  }
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  intptr_t native() const { return native_; }
  const std::string& path() const { return path_; }

 private:
  static void Close(intptr_t native);  // each back-end's

  intptr_t native_ = -1;
  std::string path_;
};

// One entry of a folder's listing: its name and attribute bits (the
// directory bit as a listing through the seam sets it, a link to a folder
// included; kAttrLink for a link; hidden, system), and the number its file
// system knows it by where the listing gives one (Windows: its file
// reference), else 0.
struct ListedEntry {
  std::string name;
  Dword attributes;
  uint64_t fileId = 0;
};

// A new file written in a folder and not yet in its target's place. POSIX:
// closed once written (native -1); Windows: kept open and marked for
// deletion until it replaces its target, so that it goes with the process
// however the process ends.
struct StagedFile {
  std::string name;
  intptr_t native = -1;
};

// What tells whether a file or folder has changed, as a watch that polls
// compares it.
struct FileStamp {
  uint64_t identity = 0;  // as Identity gives it
  int64_t written = 0;    // its last write, in nanoseconds since 1970 (a folder's: its names)
  int64_t changed = 0;    // POSIX: its last change of any kind (permissions too); else 0
  uint64_t size = 0;
  Dword attributes = 0;

  bool operator==(const FileStamp&) const = default;
};

// How many folders a walk may hold open (those on its path) and how many
// staged files a writer may keep, so that a run stays within the process's
// open-file limit.
struct HandleBudget {
  size_t walk;
  size_t writer;
};

class FolderAccess {
 public:
  virtual ~FolderAccess() = default;

  virtual HandleBudget Budget() const = 0;

  // Opens a folder by its full path, following a link there (the user named
  // it). *ownName: its name as the file system holds it (Windows: its real
  // case), "" at a drive or file system root. 0 or the Win32 error.
  virtual Dword OpenRoot(const std::string& fullPath, FolderHandle* folder,
                         std::string* ownName) = 0;

  // Opens the sub-folder name of parent without following a link:
  // kErrorIsLink when it is one (now), kErrorPathNotFound when it is gone,
  // kErrorDirectory when it is no folder any more. listed: the fileId the
  // parent's listing gave it, 0 when there was none; where an open cannot be
  // kept from following a link (Wine), the folder opened must carry that
  // number, or else lie at the name's own path.
  virtual Dword OpenSub(const FolderHandle& parent, std::string_view name, uint64_t listed,
                        FolderHandle* folder) = 0;

  // Opens the folder that holds folder now (POSIX: its ".."; Windows: the
  // folder of its path), whose path is taken to be folder's parent path. The
  // caller checks by Identity that it is the folder it expects.
  virtual Dword OpenParent(const FolderHandle& folder, FolderHandle* parent) = 0;

  // What tells an open folder from every other of its file system for as
  // long as it exists (device and inode; volume and file index), 0 when it
  // cannot be told. A folder reopened by its names is checked against it.
  virtual uint64_t Identity(const FolderHandle& folder) = 0;

  // The attribute bits of an open folder whose own name is name (hidden,
  // system; a leading dot counts as hidden on POSIX, as its listing shows).
  // kInvalidFileAttributes, with the last error set, when it cannot be told.
  virtual Dword Attributes(const FolderHandle& folder, std::string_view name) = 0;

  // Lists the folder once, without . and .., in the order a listing through
  // the seam gives (POSIX: the NTFS order; Windows: the file system's). 0,
  // or the Win32 error (kErrorPathNotFound: the folder is gone). Once for
  // each handle: POSIX reads its listing to its end, and Wine gives the same
  // handle's first listing again.
  virtual Dword List(const FolderHandle& folder, std::vector<ListedEntry>* entries) = 0;

  // Reads the file name of the folder, at most limit bytes (one more tells
  // that it is longer), never through a link: kErrorIsLink for a link,
  // kErrorIsFolder for a folder, kErrorNotRegularFile for a named pipe or
  // the like, kErrorFileNotFound when there is none,
  // kErrorSharingViolation while another program holds it (no retry here).
  virtual Dword ReadFile(const FolderHandle& folder, std::string_view name, size_t limit,
                         std::string* bytes) = 0;

  // The attribute bits of name in the folder, of a link itself (with
  // kAttrLink); kInvalidFileAttributes when there is none.
  virtual Dword FileAttributes(const FolderHandle& folder, std::string_view name) = 0;

  // Makes the new file name in the folder (never through a link, never one
  // that exists: kErrorFileExists) and writes bytes to it. 0, or the error
  // with nothing left behind.
  virtual Dword Stage(const FolderHandle& folder, std::string_view name, const std::string& bytes,
                      StagedFile* file) = 0;

  // How many staged files one Sync call serves well: many where one call
  // syncs a whole file system (POSIX), some where the files are flushed side
  // by side (Windows), so that the disk takes them together.
  virtual size_t SyncBatchSize() const = 0;

  // Puts the bytes of staged files on disk before any of them replaces its
  // target (POSIX: one syncfs for each file system of the folders). 0, or
  // the error of the first call that failed.
  virtual Dword Sync(const std::vector<const FolderHandle*>& folders,
                     const std::vector<const StagedFile*>& files) = 0;

  // Puts the staged file in target's place in the folder, in one rename. 0,
  // or the error with the staged file still there (Windows: still marked).
  virtual Dword Replace(const FolderHandle& folder, StagedFile* file, std::string_view target) = 0;

  // Whether a failed Replace may be another program holding the target for
  // a moment (a concurrent run reading or replacing it, a virus scanner),
  // so that trying again shortly may succeed. Windows reports that as a
  // sharing violation or a denied access.
  virtual bool HeldByAnother(Dword error) const = 0;

  // Removes a staged file that did not take its target's place. Must work
  // with no memory left to allocate.
  virtual void Discard(const FolderHandle& folder, StagedFile* file) = 0;

  // Removes the file name in the folder.
  virtual bool Remove(const FolderHandle& folder, std::string_view name) = 0;

  // Puts the renames made in the folders on disk (POSIX: one syncfs per
  // file system; NTFS logs renames itself).
  virtual void SyncRenames(const std::vector<const FolderHandle*>& folders) = 0;

  // The stamp of name in the folder (name empty: the folder itself), of a
  // link itself, never of what it points to: one call. 0, or the error
  // (kErrorFileNotFound when there is none).
  virtual Dword Stamp(const FolderHandle& folder, std::string_view name, FileStamp* stamp) = 0;

  // Opens the folder at relative (names joined by '\', "" for top itself)
  // beneath the open folder top, never through a link: kErrorIsLink when a
  // link is on the way, kErrorPathNotFound when a name is gone,
  // kErrorDirectory when one is no folder.
  virtual Dword OpenBeneath(const FolderHandle& top, std::string_view relative,
                            FolderHandle* folder) = 0;

  // Opens a folder by its full path, following a link there as OpenRoot
  // does, to be held for long without standing in anyone's way: it can be
  // renamed or removed while held (Windows: shared for deletion too).
  virtual Dword OpenToKeep(const std::string& fullPath, FolderHandle* folder) = 0;

  // Whether a folder held open has been removed since (its last name gone).
  virtual bool Removed(const FolderHandle& folder) = 0;

 protected:
  // OpenBeneath one name at a time, each opened by OpenSub; relative is not
  // empty.
  Dword OpenNameByName(const FolderHandle& top, std::string_view relative, FolderHandle* folder);
};

// The folders of the system the program runs on.
FolderAccess& SystemFolders();

// The absolute form of path with '\' separators, as a program started in
// that folder sees its own folder (POSIX: path is a POSIX path,
// links resolved). False with *error set when the path cannot be resolved
// (POSIX: kErrorInvalidName when its real path holds '\').
bool FullPath(const std::string& path, std::string* full, Dword* error);

// Reads at most limit bytes from the start of the regular file at path
// (fewer when it is shorter), so that a huge file costs nothing. 0, or the
// Win32 error (kErrorFileNotFound or kErrorPathNotFound when there is none,
// kErrorIsFolder for a folder, kErrorNotRegularFile for a named pipe or the
// like).
Dword ReadFileStart(const std::string& path, size_t limit, std::string* bytes);

}  // namespace os
