// A scriptable stand-in for the operating system, for tests that run the
// runtime in-process. Constructing a FakePlatform installs it as the table in
// use; destroying it restores the previous table and frees every heap block
// still outstanding.
//
// It scripts what the runtime cannot provoke on a real system (a heap that
// refuses the Nth allocation, listings in any order, short writes, a failing
// close or replace, any module path and code page) and records every call, so
// tests can check the order of start-up and clean-up.
//
// ExitProcess does not end the process: it throws FakeExit, which unwinds to
// the test. Tests of the runtime-error path catch it (see ExpectExit below).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

// Thrown by the fake ExitProcess.
struct FakeExit {
  uint32_t code;
};

struct Entry {
  std::string name;
  os::Dword attributes;
};

struct File {
  std::string bytes;
  os::Dword attributes = os::kAttrArchive;
  bool openElsewhere = false;  // another process holds it open without sharing
};

struct MessageBox {
  std::string text;     // bytes as passed (GBK)
  std::string caption;  // bytes as passed (GBK)
  os::Dword style;
};

class FakePlatform {
 public:
  FakePlatform();
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // The fake in use (the most recent one constructed).
  static FakePlatform& Current();

  // --- Heap -------------------------------------------------------------
  // Refuse the nth heap request (HeapAlloc or HeapReAlloc, counted from 1)
  // and every one after it; 0 refuses none.
  int refuseFromRequest = 0;
  // Refuse every request larger than this many bytes (SIZE_MAX: none).
  size_t refuseAbove = SIZE_MAX;
  int heapRequests = 0;          // HeapAlloc + HeapReAlloc calls so far
  // Fill every block HeapAlloc hands out with this byte (0-255), so a test
  // can tell the bytes the runtime wrote from the rest; -1 leaves a new
  // block's bytes undefined, as a real heap does.
  int fillNewBlocks = -1;
  // Exact size of a live block of the fake heap; -1 when p is not one.
  long BlockSize(const void* p) const;
  size_t LiveBlocks() const { return blocks_.size(); }
  bool IsLiveBlock(const void* p) const { return blocks_.count(p) != 0; }

  // --- Module path, directories, code page --------------------------------
  std::string modulePath = "C:\\Tools\\Gen\\tool.exe";
  std::string currentDirectory = "C:\\";
  // What both shipped back-ends answer; 936 makes 0x81..0xFE lead bytes, and
  // any other code page stands for a single-byte one (Latin-1).
  os::Dword ansiCodePage = os::kCodePageUtf8;

  // --- Listings ------------------------------------------------------------
  // Entries that FindFirstFileA(pattern) lists, in this order, exactly as
  // given (add "." and ".." yourself where a listing should have them). An
  // unknown pattern fails with ERROR_FILE_NOT_FOUND.
  std::map<std::string, std::vector<Entry>> listings;
  // Patterns whose FindFirstFileA fails with the given error instead.
  std::map<std::string, os::Dword> listingErrors;
  int openFinds = 0;  // handles open right now

  // --- Files ---------------------------------------------------------------
  // The fake file system: full path -> file. Folders are the set below; a
  // path whose folder part is missing fails to open.
  std::map<std::string, File> files;
  std::set<std::string> folders{"C:", "C:\\Tools", "C:\\Tools\\Gen"};
  // Fail the nth WriteFile call (counted from 1) after writing only half of
  // the bytes asked for; 0: none.
  int shortWriteAt = 0;
  int writeCalls = 0;
  bool failClose = false;      // CloseHandle of a file fails (after closing)
  bool failFlush = false;
  bool failMove = false;       // MoveFileExA fails
  bool failCreate = false;     // every CreateFileA fails with access denied
  int openFiles = 0;           // file handles open right now

  // --- Process, OLE, windows, message boxes -------------------------------
  os::Dword threadId = 1;
  os::Dword processId = 4242;
  os::Dword errorMode = 0;
  int oleDepth = 0;            // OleInitialize - OleUninitialize
  std::vector<MessageBox> boxes;
  // Every call, in order: the function's name, then for some calls a space
  // and their main argument ("HeapAlloc 12", "SetCurrentDirectoryA C:\x",
  // "MessageBoxA", "SendMessageA 33767", "ExitProcess 4294967295").
  std::vector<std::string> calls;
  // How many calls of that name were recorded.
  int CallCount(const std::string& name) const;
  // Position of the first call whose text starts with prefix; -1 if none.
  int IndexOf(const std::string& prefix) const;

  // Windows: live window handles and their procedures.
  struct Window {
    os::WndProc proc;
    std::string className;
  };
  std::map<os::Handle, Window> windows;
  std::set<std::string> classes;
  std::vector<os::Msg> queue;  // posted messages of the one thread

  // External libraries LoadLibraryA can load: name -> function name ->
  // address. LoadLibraryA of any other name fails.
  std::map<std::string, std::map<std::string, void*>> libraries;
  std::map<os::Handle, std::string> loadedLibraries;

  const os::Platform& table() const { return table_; }

 private:
  friend struct Callbacks;
  os::Platform table_{};
  const os::Platform* previous_ = nullptr;
  FakePlatform* previousFake_ = nullptr;
  std::map<const void*, size_t> blocks_;
  uintptr_t nextHandle_ = 0x1000;
  public:
  // Internal state of open finds and files, keyed by handle.
  struct FindState {
    std::vector<Entry> entries;
    size_t next = 0;
  };
  struct OpenFile {
    std::string path;
    std::string bytes;
  };
  std::map<os::Handle, FindState> finds_;
  std::map<os::Handle, OpenFile> fileHandles_;
  os::Dword lastError_ = 0;
  os::Handle NewHandle() { return reinterpret_cast<os::Handle>(nextHandle_ += 4); }
};

// Runs body, which must end through ExitProcess; returns the exit code.
// Fails the test (and returns 0xDEADBEEF) if body returns normally.
uint32_t ExpectExit(const std::function<void()>& body);

}  // namespace fake
