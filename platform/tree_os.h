// What the whole-tree tool needs from the operating system beyond the seam's
// table: its command line, console output, reading a file, a link test,
// batched durability, interrupts and the wait for Enter. Paths and texts are
// the seam's narrow ones (UTF-8), with '\' separators; files are still
// created, written, renamed and listed through os::Os().
#pragma once

#include <cstddef>
#include <cstdint>
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
// started in that folder sees its own folder (POSIX: links resolved). False
// with *error set when the path cannot be resolved.
bool FullPath(const std::string& path, std::string* full, Dword* error);

// Whether path is itself a link: a symbolic link, or on Windows any reparse
// point (a junction, a mounted folder). Such a folder is never entered.
bool IsLink(const std::string& path);

// Reads the whole file. 0, or the Win32 error (kErrorFileNotFound when there
// is no such file).
Dword ReadWholeFile(const std::string& path, std::string* bytes);

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
// per file system they live on; Windows: each file flushed. False when that
// could not be ensured.
bool SyncFiles(const std::vector<std::string>& paths);
// How many manifests to write between two commits: a large batch where one
// SyncFiles call syncs them all (POSIX); one on Windows, where each file is
// flushed by itself as it replaces its target anyway.
size_t SyncBatchSize();
// Puts the renames made in the given folders on disk (POSIX: one syncfs per
// file system; NTFS logs renames itself).
void SyncFolders(const std::vector<std::string>& folders);

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

// ---- Reading a small file, and the console a double-click opens
// (posix_file_start.cpp, win32_file_start.cpp; posix_console.cpp,
// win32_console.cpp).

// Reads at most limit bytes from the start of a regular file (fewer when it
// is shorter), so that a huge file costs nothing. 0, or the Win32 error
// (kErrorFileNotFound or kErrorPathNotFound when there is none).
Dword ReadFileStart(const std::string& path, size_t limit, std::string* bytes);

// The console as the tree tool's prompt and its wait for Enter see it. The
// functions are pointers so that a test can put its own in their place.
struct Console {
  // Whether the console is the program's own (no other process shares it,
  // as when Explorer started the program) and both standard input and
  // standard output are that console. Always false on POSIX systems.
  bool (*isOwn)();
  // Reads one line of standard input as UTF-8, without its line end. False
  // at the end of input or on an error.
  bool (*readLine)(std::string* line);
  // Waits until Enter is pressed.
  void (*waitForEnter)();
};
// The process's console functions; a test may replace them.
Console& TheConsole();

}  // namespace os::tree
