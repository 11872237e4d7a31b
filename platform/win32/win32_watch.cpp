// The tree watch on Windows: one ReadDirectoryChangesW on ROOT with its
// sub-tree, overlapped, asked again as soon as a buffer comes back so that
// few events fall between two reads. A wait blocks in WaitForMultipleObjects
// on the read and on an event the console's control handler sets.
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/folder_access.h"
#include "platform/process_control.h"
#include "platform/tree_watch.h"
#include "platform/win32/win32_text.h"

namespace os::tree {
namespace {

constexpr DWORD kNotifyFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;
// Large enough for a burst; 64 KiB is the most a network share passes.
constexpr DWORD kBufferBytes = 64 * 1024;

// Set by WakeTreeWatch (the console's control handler), manual reset.
HANDLE g_wake = nullptr;

std::string Utf8(const wchar_t* wide, size_t length) {
  std::string text(win32::WideToUtf8(wide, length, nullptr, 0), '\0');
  win32::WideToUtf8(wide, length, text.data(), text.size());
  return text;
}

std::string ErrorProblem(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string problem = "error " + std::to_string(error);
  if (length != 0) {
    std::string words = Utf8(text, length);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
      words.pop_back();
    problem = words + " (" + problem + ")";
  }
  if (text != nullptr) ::LocalFree(text);
  return problem;
}

unsigned char AsciiLower(char c) {
  return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

// ROOT for watching, shared every way, delete included: the watch must not
// stand in the way of renaming or removing anything in the tree.
HANDLE OpenFolder(const std::string& path) {
  win32::WideBuffer wide;
  if (!win32::SystemPath(path.c_str(), &wide)) return INVALID_HANDLE_VALUE;
  return ::CreateFileW(wide.data(), FILE_LIST_DIRECTORY,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
}

class DirectoryChangesWatch final : public TreeWatch {
 public:
  DirectoryChangesWatch(HANDLE folder, HANDLE readDone, std::string root, WatchOptions options)
      : folder_(folder), root_(std::move(root)), options_(std::move(options)),
        buffer_(kBufferBytes / sizeof(DWORD)), copy_(buffer_.size()) {
    overlapped_.hEvent = readDone;
  }

  ~DirectoryChangesWatch() override {
    if (reading_) {
      ::CancelIoEx(folder_, &overlapped_);
      DWORD ignored = 0;
      ::GetOverlappedResult(folder_, &overlapped_, &ignored, TRUE);
    }
    ::CloseHandle(folder_);
    ::CloseHandle(overlapped_.hEvent);
  }

  // Asks for the next buffer of changes. False with *error set when the
  // folder cannot be watched.
  bool Read(DWORD* error) {
    ::ResetEvent(overlapped_.hEvent);
    if (!::ReadDirectoryChangesW(folder_, buffer_.data(), kBufferBytes, TRUE, kNotifyFilter,
                                 nullptr, &overlapped_, nullptr)) {
      *error = ::GetLastError();
      reading_ = false;
      return false;
    }
    reading_ = true;
    return true;
  }

  // ROOT's watch takes in every folder beneath it; a folder the walk visits
  // for the first time after a batch is checked once more, as on Linux.
  bool Add(const std::string& folder, std::string*, bool* limit) override {
    *limit = false;
    if (seen_.count(folder) != 0) return true;
    seen_.insert(folder);
    if (UnderWine() && !folder.empty()) Touch(folder);
    if (waited_) AddChange(&pending_, {folder, true});
    return true;
  }

  void Forget(const std::string& folder) override {
    for (const std::string& gone : Watched(folder)) seen_.erase(gone);
  }

  std::vector<std::string> Watched(const std::string& folder) const override {
    // Names that begin alike lie together ("a", "a b", "a\c"), a sub-tree
    // among them.
    std::vector<std::string> watched;
    for (auto it = seen_.lower_bound(folder);
         it != seen_.end() && SameNameIgnoringCase(std::string_view(*it).substr(0, folder.size()), folder);
         ++it) {
      if (folder.empty() || it->size() == folder.size() || (*it)[folder.size()] == '\\') {
        watched.push_back(*it);
      }
    }
    return watched;
  }

  WatchWait Wait(WatchBatch* batch, std::string* problem) override {
    waited_ = true;
    Gathering gathering;
    for (;;) {
      DWORD timeout = INFINITE;
      if (rescan_ || !pending_.empty()) {
        timeout = gathering.MillisecondsLeft();
        if (timeout == 0) break;
      }
      if (Interrupted()) return WatchWait::Interrupted;
      const HANDLE handles[2] = {overlapped_.hEvent, g_wake};
      const DWORD woken = ::WaitForMultipleObjects(2, handles, FALSE, timeout);
      if (woken == WAIT_OBJECT_0 + 1 || Interrupted()) return WatchWait::Interrupted;
      if (woken == WAIT_TIMEOUT) continue;
      if (woken != WAIT_OBJECT_0) {
        *problem = ErrorProblem(::GetLastError());
        return WatchWait::Failed;
      }
      DWORD bytes = 0;
      const bool read = ::GetOverlappedResult(folder_, &overlapped_, &bytes, FALSE) != 0;
      const DWORD readError = read ? 0 : ::GetLastError();
      reading_ = false;
      if (read && bytes != 0) std::copy_n(buffer_.begin(), (bytes + 3) / 4, copy_.begin());
      // Asked again at once, before this buffer is looked at.
      DWORD error = 0;
      if (!Read(&error)) {
        *problem = ErrorProblem(error);
        return WatchWait::Failed;
      }
      if (!read && readError != ERROR_NOTIFY_ENUM_DIR) {
        *problem = ErrorProblem(readError);
        return WatchWait::Failed;
      }
      // Too many changes for the buffer: what they were is lost.
      if (!read || bytes == 0) {
        rescan_ = true;
      } else if (!Take(bytes)) {
        continue;
      }
      if (renewForWine_ && !Renew(problem)) return WatchWait::Failed;
      gathering.Noted();
    }
    HandOut(batch, &pending_, &rescan_);
    ownWrites_.clear();
    return WatchWait::Changes;
  }

 private:
  bool IsManifestName(std::string_view name) const {
    for (const std::string& manifest : options_.manifestNames) {
      if (SameNameIgnoringCase(name, manifest)) return true;
    }
    return false;
  }

  // Wine goes on naming the folders beneath a renamed folder by their old
  // names, in this watch and in any later one, until they are opened again
  // by their new names. So the watch starts over: a new handle, every
  // folder the walk visited opened again, and, for what changed meanwhile,
  // the whole tree looked at again.
  bool Renew(std::string* problem) {
    renewForWine_ = false;
    ::CancelIoEx(folder_, &overlapped_);
    DWORD ignored = 0;
    ::GetOverlappedResult(folder_, &overlapped_, &ignored, TRUE);
    reading_ = false;
    ::CloseHandle(folder_);
    folder_ = OpenFolder(root_);
    if (folder_ == INVALID_HANDLE_VALUE) {
      *problem = ErrorProblem(::GetLastError());
      return false;
    }
    DWORD error = 0;
    if (!Read(&error)) {
      *problem = ErrorProblem(error);
      return false;
    }
    for (const std::string& folder : seen_) {
      if (!folder.empty()) Touch(folder);
    }
    rescan_ = true;
    return true;
  }

  // Wine's emulation of the sub-tree watch takes in a folder that existed
  // before the watch began only once a handle of it (and of each folder
  // above it) has been opened since; the walk visits parents first.
  static bool UnderWine() {
    static const bool wine = [] {
      const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
      return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
  }

  void Touch(const std::string& folder) {
    const std::string full = root_ + "\\" + folder;
    win32::WideBuffer wide;
    if (!win32::SystemPath(full.c_str(), &wide)) return;
    const HANDLE handle = ::CreateFileW(wide.data(), FILE_LIST_DIRECTORY,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }

  bool IsFolder(const std::string& path) {
    const std::string full = root_ + "\\" + path;
    win32::WideBuffer wide;
    if (!win32::SystemPath(full.c_str(), &wide)) return false;
    const DWORD attributes = ::GetFileAttributesW(wide.data());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  // The records of one buffer; whether one of them may change a manifest.
  bool Take(DWORD bytes) {
    bool relevant = false;
    const char* base = reinterpret_cast<const char*>(copy_.data());
    for (DWORD at = 0; at < bytes;) {
      const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + at);
      const std::string path = Utf8(record->FileName, record->FileNameLength / sizeof(wchar_t));
      relevant = Take(record->Action, path) || relevant;
      if (record->NextEntryOffset == 0) break;
      at += record->NextEntryOffset;
    }
    return relevant;
  }

  bool Take(DWORD action, const std::string& path) {
    const std::string folder = ParentFolder(path);
    const std::string_view name = std::string_view(path).substr(folder.empty() ? 0 : folder.size() + 1);
    const bool afterOwnTemporary = renamingOwn_;
    renamingOwn_ = false;
    // A folder the walk does not visit (hidden, excluded, beneath a link)
    // has no manifest of ours; a new folder is walked through its parent.
    if (seen_.count(folder) == 0) return false;
    if (IsToolTemporaryName(name)) {
      // Its rename into place is a manifest written by a tool, not a change.
      renamingOwn_ = action == FILE_ACTION_RENAMED_OLD_NAME;
      return false;
    }
    const bool ignoreFile =
        !options_.ignoreFileName.empty() && SameNameIgnoringCase(name, options_.ignoreFileName);
    switch (action) {
      case FILE_ACTION_RENAMED_NEW_NAME:
        if (afterOwnTemporary) {
          ownWrites_.insert(path);
          return false;
        }
        [[fallthrough]];
      case FILE_ACTION_ADDED:
        AddChange(&pending_, {folder, ignoreFile});
        if (!ignoreFile && IsFolder(path)) {
          AddChange(&pending_, {path, true});
          if (action == FILE_ACTION_RENAMED_NEW_NAME && UnderWine()) renewForWine_ = true;
        }
        return true;
      case FILE_ACTION_REMOVED:
      case FILE_ACTION_RENAMED_OLD_NAME:
        AddChange(&pending_, {folder, ignoreFile});
        Forget(path);
        return true;
      case FILE_ACTION_MODIFIED:
        // A folder's own time changes with its contents: only an edited
        // manifest or ignore file counts, and not the tool's own write.
        if (ignoreFile || (IsManifestName(name) && ownWrites_.count(path) == 0)) {
          AddChange(&pending_, {folder, ignoreFile});
          return true;
        }
        return false;
      default:
        return false;
    }
  }

  HANDLE folder_;
  OVERLAPPED overlapped_{};
  std::string root_;  // full path, '\' separators
  WatchOptions options_;
  std::vector<DWORD> buffer_;  // DWORD-aligned, as the records must be
  std::vector<DWORD> copy_;
  bool reading_ = false;
  std::vector<FolderChange> pending_;
  // Folders the walk visited. Windows names them in any case.
  struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
      return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return AsciiLower(x) < AsciiLower(y);
      });
    }
  };
  std::set<std::string, NoCaseLess> seen_;
  std::set<std::string> ownWrites_;  // manifests a tool put in place this batch
  bool rescan_ = false;
  bool waited_ = false;
  bool renamingOwn_ = false;  // the last record was a rename away from a temporary name
  bool renewForWine_ = false;  // a folder was renamed: Wine's watch goes on with its old name
};

}  // namespace

void WakeTreeWatch() {
  if (g_wake != nullptr) ::SetEvent(g_wake);
}

std::unique_ptr<TreeWatch> OpenTreeWatch(const std::string& rootFullPath, std::string* problem,
                                         bool* limit, const WatchOptions& options) {
  *limit = false;
  // A wake that ended an earlier watch of this process must not end this one
  // (an interrupt still does: Wait asks for it first).
  if (g_wake == nullptr) {
    g_wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  } else {
    ::ResetEvent(g_wake);
  }
  SetInterruptWaker(&WakeTreeWatch);
  const HANDLE folder = g_wake == nullptr ? INVALID_HANDLE_VALUE : OpenFolder(rootFullPath);
  if (folder == INVALID_HANDLE_VALUE) {
    *problem = ErrorProblem(::GetLastError());
    return nullptr;
  }
  const HANDLE readDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (readDone == nullptr) {
    *problem = ErrorProblem(::GetLastError());
    ::CloseHandle(folder);
    return nullptr;
  }
  std::string root = rootFullPath;
  while (!root.empty() && root.back() == '\\') root.pop_back();
  auto watch = std::make_unique<DirectoryChangesWatch>(folder, readDone, std::move(root), options);
  DWORD error = 0;
  if (!watch->Read(&error)) {
    *problem = ErrorProblem(error);
    return nullptr;
  }
  return watch;
}

}  // namespace os::tree
