// Pieces the files of the POSIX back-end share: the thread's last-error value,
// the Win32 error numbers the back-end reports, path conversion and the table
// entries each file defines.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/upcase.h"

namespace os::posix {

// Win32 error numbers the back-end reports beyond those platform.h names.
constexpr Dword kErrorSuccess = 0;
constexpr Dword kErrorInvalidFunction = 1;
constexpr Dword kErrorInvalidHandle = 6;
constexpr Dword kErrorNotSameDevice = 17;
constexpr Dword kErrorGenFailure = 31;
constexpr Dword kErrorInvalidParameter = 87;
constexpr Dword kErrorDirNotEmpty = 145;
constexpr Dword kErrorInvalidFlags = 1004;
constexpr Dword kErrorInvalidWindowHandle = 1400;
constexpr Dword kErrorCannotFindWndClass = 1407;
constexpr Dword kErrorClassAlreadyExists = 1410;
constexpr Dword kErrorClassDoesNotExist = 1411;
constexpr Dword kErrorClassHasWindows = 1412;
constexpr Dword kErrorInvalidIconHandle = 1414;
constexpr Dword kErrorResourceTypeNotFound = 1813;

void SetLastError(Dword error);
Dword GetLastError();

// The Win32 error for an errno value. For a missing path, whether the file
// or a folder on its way is missing decides between "file not found" and
// "path not found", so the path is needed too.
Dword ErrorFromErrno(int error, std::string_view posixPath);
void SetLastErrorFromErrno(int error, std::string_view posixPath = std::string_view());

// Makes a write past the file-size limit fail with EFBIG instead of ending
// the process by SIGXFSZ (unless the program was started with the signal
// handled already).
void IgnoreFileSizeSignal();

// Running out of memory. Every operator new of the program goes through one
// allocation entry (posix_allocation.cpp), which records the size of a
// request the heap refuses before the new-handler runs: the new-handler ends
// the run through os::OutOfMemory with that size, and each entry of the table
// that catches std::bad_alloc does the same. No code that allocates has
// anything to note first.
// The size of the calling thread's last refused request; 0 before any.
size_t RefusedAllocation();

// A mutex of the back-end's shared state. While the calling thread holds one,
// an allocation failure must unwind (releasing it) before the run ends, since
// ending the run calls the back-end again; otherwise the back-end's
// new-handler ends the run at once, where there may be no memory left even to
// throw an exception.
class BackEndMutex {
 public:
  void lock();
  void unlock();
  bool try_lock();

 private:
  std::mutex mutex_;
};

// A path for the OS, converted without the heap ('\' to '/'), so that a file
// can still be removed or moved into place when memory has run out. ok() is
// false for an empty path and for one longer than the OS takes (error()
// says which).
class PosixPath {
 public:
  explicit PosixPath(const char* path);
  bool ok() const { return error_ == 0; }
  Dword error() const { return error_; }
  const char* c_str() const { return buffer_; }
  std::string_view view() const { return {buffer_, length_}; }

 private:
  char buffer_[4096];
  size_t length_ = 0;
  Dword error_ = 0;
};

// The folder part of a POSIX path ("." for a bare name, "/" for a name in
// the root), and the same copied into buffer with no heap (false when it does
// not fit).
std::string_view FolderPart(std::string_view path);
bool FolderPartIn(std::string_view path, char* buffer, size_t size);

// Paths arrive with '\' separators; the OS wants '/'.
std::string ToPosixPath(const char* path);
// And leave with '\'.
std::string ToWindowsPath(std::string path);

// Heap, process, module and miscellany (posix_process.cpp).
Handle GetProcessHeap();
void* HeapAlloc(Handle heap, Dword flags, size_t bytes);
void* HeapReAlloc(Handle heap, Dword flags, void* block, size_t bytes);
Bool HeapFree(Handle heap, Dword flags, void* block);
Dword GetModuleFileNameA(Handle module, char* buffer, Dword size);
Bool SetCurrentDirectoryA(const char* path);
Dword GetCurrentDirectoryA(Dword size, char* buffer);
Dword GetCurrentThreadId();
Dword GetCurrentProcessId();
void ExitProcess(uint32_t exitCode);
Dword SetErrorMode(Dword mode);
void fpreset();
void DebugBreak();
Bool FreeLibrary(Handle module);
int WSACleanup();
Dword WaitForSingleObject(Handle object, Dword milliseconds);
int32_t OleInitialize(void* reserved);
void OleUninitialize();
Handle GetModuleHandleA(const char* name);
int MessageBoxA(Handle owner, const char* text, const char* caption, Dword style);

// Code pages (posix_codepage.cpp).
Dword GetACP();
Bool IsDBCSLeadByteEx(Dword codePage, uint8_t byte);
int MultiByteToWideChar(Dword codePage, Dword flags, const char* text, int length,
                        char16_t* wide, int wideLength);
int WideCharToMultiByte(Dword codePage, Dword flags, const char16_t* wide, int wideLength,
                        char* text, int length, const char* defaultChar, Bool* usedDefault);
// The characters of the runtime's own message texts (posix_message_glyphs.cpp).
char16_t MessageGlyph(uint8_t lead, uint8_t trail);
// The characters MessageGlyph knows, and their GBK bytes, two each.
constexpr size_t kMessageGlyphCount = 118;
extern const char kMessageGlyphsGbk[2 * kMessageGlyphCount + 1];
// The UTF-16 unit of a GBK double-byte character, for display; 0 where it has
// none. From the built-in code page table: a box about an exhausted heap
// never needs memory.
char16_t GbkUnitForDisplay(uint8_t lead, uint8_t trail);

// Listing order (posix_name_order.cpp): the upper case of a UTF-16 code unit
// (platform/upcase.h), and two UTF-8 names compared as NTFS orders them
// (negative, zero or positive).
using os::UpperCaseUnit;
int CompareNames(std::string_view a, std::string_view b);
// The upper-cased UTF-16 units of a UTF-8 name, appended to out two bytes
// each, high byte first: comparing these bytes is comparing the units, which
// is CompareNames but for the exact tie-break.
void AppendUpperCaseUnits(std::string_view name, std::string& out);

// A name read from a folder: its bytes at names[offset, offset + length),
// each name followed by a NUL, its sort key (see SortListedNames) and its
// directory entry's d_type.
struct ListedName {
  uint32_t offset;
  uint32_t length;
  uint32_t keyOffset;
  uint32_t keyLength;
  unsigned char type;
};
// Sorts one folder's names into the order NTFS keeps. Each name's key is
// made once and compared as bytes: where every name is ASCII (ascii), its
// upper-cased bytes, which give the order the full comparison would;
// otherwise its upper-cased UTF-16 units, high byte first. Equal keys: the
// names themselves decide.
void SortListedNames(const std::string& names, bool ascii, std::vector<ListedName>* sorted);

// Reading a folder (posix_directory.cpp), for the listing and the walk alike.
// One folder's names: all in one buffer, each followed by a NUL, so that a
// folder of many entries costs few allocations; sorted as SortListedNames
// sorts them.
struct FolderNames {
  std::string names;
  std::vector<ListedName> sorted;

  // The name, NUL-terminated at its end.
  std::string_view NameAt(const ListedName& n) const { return {names.data() + n.offset, n.length}; }
};
// Reads every name of the open folder (a descriptor, read from where it
// stands) but . and .. and the names too long for Windows to have, sorted.
// 0, or the errno of the read that failed.
int ReadFolderNames(int folder, FolderNames* read);
// The attribute word of the entry name of the open folder, whose directory
// entry gave type (its d_type). Without examine, a folder's or a regular
// file's word comes from the type alone (no read-only bit); every other
// entry, and every entry with examine, is asked with fstatat. A link shows as
// its target does (a folder's link as a folder, one whose target is missing
// as itself), and *link says that it is one. kInvalidFileAttributes when the
// entry is gone since it was listed.
Dword EntryAttributes(int folder, const char* name, unsigned char type, bool examine,
                      bool* link);

// Directory listing and files (posix_files.cpp).
Handle FindFirstFileA(const char* pattern, FindDataA* data);
Handle FindFirstFileExA(const char* pattern, int infoLevel, FindDataA* data, int searchOp,
                        void* searchFilter, Dword additionalFlags);
Bool FindNextFileA(Handle find, FindDataA* data);
Bool FindClose(Handle find);
// Whether name matches a Win32 wildcard pattern (case-insensitive).
bool WildcardMatch(const std::string& pattern, const std::string& name);
Handle CreateFileA(const char* path, Dword access, Dword share, SecurityAttributes* security,
                   Dword disposition, Dword flagsAndAttributes, Handle templateFile);
Bool WriteFile(Handle file, const void* bytes, Dword count, Dword* written, void* overlapped);
Bool FlushFileBuffers(Handle file);
Bool CloseHandle(Handle object);
Dword GetFileAttributesA(const char* path);
Bool MoveFileExA(const char* from, const char* to, Dword flags);
Bool DeleteFileA(const char* path);
// Attributes of an entry, given its stat mode and its name.
Dword AttributesFromMode(unsigned mode, const char* name);

// Windows and messages (posix_windows.cpp).
Handle LoadCursorA(Handle instance, uintptr_t resource);
Handle GetStockObject(int object);
uint16_t RegisterClassA(const WndClassA* windowClass);
Bool UnregisterClassA(const char* className, Handle instance);
Handle CreateWindowExA(Dword exStyle, const char* className, const char* title, Dword style,
                       int x, int y, int width, int height, Handle parent, Handle menu,
                       Handle instance, void* param);
Bool IsWindow(Handle hwnd);
intptr_t SendMessageA(Handle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam);
Bool PostMessageA(Handle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam);
void PostQuitMessage(int exitCode);
Bool PeekMessageA(Msg* msg, Handle hwnd, uint32_t filterMin, uint32_t filterMax,
                  uint32_t removeFlags);
Bool GetMessageA(Msg* msg, Handle hwnd, uint32_t filterMin, uint32_t filterMax);
Bool TranslateMessage(const Msg* msg);
intptr_t DispatchMessageA(const Msg* msg);
intptr_t DefWindowProcA(Handle hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam);
Bool DestroyWindow(Handle hwnd);
Bool DestroyIcon(Handle icon);

}  // namespace os::posix
