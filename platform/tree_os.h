// What the whole-tree tool needs from the operating system beyond the seam's
// table: its command line, console output, reading a file, a link test,
// batched durability, interrupts and the wait for Enter. Paths and texts are
// the seam's narrow ones (UTF-8), with '\' separators; files are still
// created, written, renamed and listed through os::Os().
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace os::tree {

// The program's arguments as UTF-8, the program's name first (Windows: from
// GetCommandLineW, whatever the console's code page).
std::vector<std::string> CommandLine(int argc, char** argv);

enum class Stream { Out, Err };

// Writes UTF-8 text: to a Windows console as UTF-16, elsewhere as bytes.
void Write(Stream stream, std::string_view text);
// Whether the stream is a terminal (a console on Windows).
bool IsTerminal(Stream stream);

// The absolute form of path with '\' separators, as the per-folder program
// started in that folder sees its own folder (POSIX: path is a POSIX path,
// links resolved). False with *error set when the path cannot be resolved
// (POSIX: kErrorInvalidName when its real path holds '\').
bool FullPath(const std::string& path, std::string* full, Dword* error);

// Whether a temporary file stays open until it takes its target's place.
// Windows: yes, marked for deletion meanwhile, so that it goes with the
// process however the process ends (TerminateProcess included), except when
// that happens between its creation and its mark or between unmarking and
// rename. POSIX: it is closed once written, and the interrupt handling
// removes it.
bool TemporaryStaysOpen();
// The access a temporary file is created with (Windows adds DELETE).
Dword TemporaryAccess();
// Marks an open temporary file for deletion at its close, or unmarks it.
bool MarkForDeletion(Handle file, bool mark);
// Flushes an open temporary file, unmarks it and renames it over target in
// the same folder. On failure, with *error set, it is marked again.
bool ReplaceByHandle(Handle file, const std::string& target, Dword* error);

// Puts the bytes of the given files, all closed, on disk. POSIX: one syncfs
// per file system they live on (through the folders' handles where given,
// else by path); Windows: each file flushed. 0, or the Win32 error of the
// first call that failed.
class FolderHandle;
Dword SyncFiles(const std::vector<std::string>& paths,
                const std::vector<const FolderHandle*>& folders);
// How many manifests to write between two commits: a large batch where one
// SyncFiles call syncs them all (POSIX); one on Windows, where each file is
// flushed by itself as it replaces its target anyway.
size_t SyncBatchSize();
// Puts the renames made in the given folders on disk (POSIX: one syncfs per
// file system; NTFS logs renames itself).
void SyncFolders(const std::vector<const FolderHandle*>& folders);

// Catches Ctrl-C and termination requests (SIGINT, SIGTERM, SIGHUP; console
// close) so that the program can remove its temporary files first.
void WatchInterrupts();
bool Interrupted();
// Ends the process the way the interrupt would have ended it. Call once the
// temporary files are gone.
[[noreturn]] void EndInterrupted();

// Windows: waits for Enter when the console is the program's own (started
// from Explorer) and its input is not redirected. Elsewhere nothing.
void WaitForEnterIfOwnConsole();

// Seconds on a steady clock.
double Seconds();
void SleepMilliseconds(unsigned milliseconds);

// --- The walk's folders -------------------------------------------------
// The walk trusts no path it did not just open: each folder is opened
// relative to its parent's handle (Windows: by its full path while every
// folder above it is held without delete sharing, so none of them can be
// renamed or replaced meanwhile), never through a link, and listed once.
// On POSIX the manifest, the temporary file and the rename are made
// relative to the folder's handle too, so paths of any length work; on
// Windows they go by path through the seam (RelativeFiles() is false).

// Errors the walk reports beyond the seam's.
constexpr Dword kErrorTooManyOpenFiles = 4;
constexpr Dword kErrorFileTooLarge = 223;
constexpr Dword kErrorIsFolder = 336;      // ERROR_DIRECTORY_NOT_SUPPORTED
constexpr Dword kErrorIsLink = 4395;       // ERROR_REPARSE_POINT_ENCOUNTERED
constexpr Dword kErrorNoMoreFiles = 18;

// An attribute bit beyond the seam's: the entry is a link (a symbolic link;
// on Windows any reparse point), which the walk never enters.
constexpr Dword kAttrLink = 0x400;

// An open folder (a descriptor, or a Windows handle), closed with the
// object. Empty: a folder known by its path alone (as the tests' fake
// platform knows folders).
class FolderHandle {
 public:
  FolderHandle() = default;
  explicit FolderHandle(intptr_t native) : native_(native) {}
  ~FolderHandle();
  FolderHandle(FolderHandle&& other) noexcept : native_(other.native_) { other.native_ = -1; }
  FolderHandle& operator=(FolderHandle&& other) noexcept;
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  bool valid() const { return native_ != -1; }
  intptr_t native() const { return native_; }

 private:
  intptr_t native_ = -1;
};

// Whether the writer's files are made relative to the folder's handle
// (POSIX) rather than by path through the seam (Windows).
bool RelativeFiles();

// How many folder handles the walk may hold (the folders on its path) and
// how many the writer may keep for its staged files, so that the run stays
// within the process's open-file limit.
struct HandleBudget {
  size_t walk;
  size_t writer;
};
HandleBudget FolderHandleBudget();

// Opens ROOT, given by its full path ('\' separators), as a folder. 0 or
// the Win32 error. *ownName: the folder's own name as the file system holds
// it (Windows: its real case, from the handle), "" at a drive or file
// system root.
Dword OpenRootFolder(const std::string& fullPath, FolderHandle* folder, std::string* ownName);

// Opens the sub-folder name of parent (whose full path is parentPath) without
// following a link: kErrorIsLink when it is one (now), kErrorPathNotFound
// when it is gone, kErrorDirectory when it is no folder any more.
Dword OpenSubFolder(const FolderHandle& parent, const std::string& parentPath,
                    std::string_view name, FolderHandle* folder);

// What tells an open folder from every other folder of its file system for
// as long as it exists (device and inode; volume and file index), 0 when it
// cannot be told. A folder reopened by its names is checked against it.
uint64_t FolderIdentity(const FolderHandle& folder);

// The attribute bits of an open folder (hidden, system; a leading dot counts
// as hidden on POSIX, as its listing shows it).
Dword FolderAttributes(const FolderHandle& folder, std::string_view name);

// One entry of a folder's listing: its name and attribute bits (the
// directory bit as the per-folder program's listing sets it, a link to a
// folder included; kAttrLink for a link; hidden, system).
struct ListedEntry {
  std::string name;
  Dword attributes;
};

// Lists the folder once, without . and .., in the order the per-folder
// program's listing gives (POSIX: the NTFS order of the back-end; Windows:
// the file system's). 0, or the Win32 error (kErrorPathNotFound: the folder
// is gone). POSIX: once for each handle, which the listing reads to its end.
Dword ListFolder(const FolderHandle& folder, const std::string& path,
                 std::vector<ListedEntry>* entries);

// Reads the file name of the folder, at most limit bytes (one more tells
// that it is longer), never through a link: kErrorIsLink for a link,
// kErrorIsFolder for a folder, kErrorFileNotFound when there is none,
// kErrorSharingViolation while another program holds it (no retry here).
Dword ReadFileIn(const FolderHandle& folder, const std::string& path, std::string_view name,
                 size_t limit, std::string* bytes);

// POSIX, relative to the folder's handle: a new file (never opened through
// a link, never one that exists: kErrorFileExists), its bytes, its
// attributes (of a link itself, not its target), a rename within the folder
// and a removal.
Dword CreateNewFileIn(const FolderHandle& folder, std::string_view name, intptr_t* file);
Dword WriteAndClose(intptr_t file, const std::string& bytes);
Dword AttributesIn(const FolderHandle& folder, std::string_view name);
Dword RenameIn(const FolderHandle& folder, std::string_view from, std::string_view to);
void DeleteIn(const FolderHandle& folder, std::string_view name);

}  // namespace os::tree
