// Change notifications on Windows: one ReadDirectoryChangesW on the top
// folder with its sub-tree, overlapped, asked again as soon as a buffer
// comes back so that few changes fall between two reads. A wait blocks in
// WaitForMultipleObjects on the read and on an event the console's control
// handler sets.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/change_source.h"
#include "platform/path_parts.h"
#include "platform/process_control.h"
#include "platform/win32/win32_text.h"

namespace os {
namespace {

constexpr DWORD kNotifyFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;
// Large enough for a burst; 64 KiB is the most a network share passes.
constexpr DWORD kBufferBytes = 64 * 1024;

// Set by WakeChangeWait (the console's control handler), manual reset.
HANDLE g_wake = nullptr;

std::string ErrorProblem(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string problem = "error " + std::to_string(error);
  if (length != 0) {
    std::string words = win32::Utf8(text, length);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
      words.pop_back();
    problem = words + " (" + problem + ")";
  }
  if (text != nullptr) ::LocalFree(text);
  return problem;
}

// The top folder for watching, shared every way, delete included: the
// watch must not stand in the way of renaming or removing anything in the
// tree.
HANDLE OpenTop(const std::string& path) {
  win32::WideBuffer wide;
  if (!win32::SystemPath(path.c_str(), &wide)) return INVALID_HANDLE_VALUE;
  return ::CreateFileW(wide.data(), FILE_LIST_DIRECTORY,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
}

// Wine is told apart by the function its ntdll exports.
bool UnderWine() {
  static const bool wine = [] {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

class DirectoryChangesSource final : public ChangeSource {
 public:
  DirectoryChangesSource(HANDLE folder, HANDLE readDone, std::string top)
      : folder_(folder), top_(std::move(top)), buffer_(kBufferBytes / sizeof(DWORD)),
        copy_(buffer_.size()) {
    overlapped_.hEvent = readDone;
    traits_.namesAnyCase = true;
    traits_.writeReport = ChangeTraits::WriteReport::EachWrite;
    traits_.renameReportsModified = true;
    traits_.staleAfterFolderRename = UnderWine();
    traits_.tellsTopFolderGone = !UnderWine();
  }

  ~DirectoryChangesSource() override {
    StopReading();
    ::CloseHandle(folder_);
    ::CloseHandle(overlapped_.hEvent);
  }

  const ChangeTraits& Traits() const override { return traits_; }

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

  // The top folder's watch takes in every folder beneath it. Wine's
  // emulation of it takes in a folder that existed before the watch began
  // only once a handle of it (and of each folder above it) has been opened
  // since; callers watch parents first.
  WatchStart Watch(const std::string& folder, std::string*) override {
    if (UnderWine() && !folder.empty()) Touch(folder);
    return WatchStart::Started;
  }

  void Unwatch(const std::string&) override {}

  ChangeWait Wait(int timeoutMilliseconds, std::vector<RawChange>* changes,
                  std::string* problem) override {
    if (Interrupted()) return ChangeWait::Interrupted;
    const HANDLE handles[2] = {overlapped_.hEvent, g_wake};
    const DWORD woken = ::WaitForMultipleObjects(
        2, handles, FALSE, timeoutMilliseconds < 0 ? INFINITE : static_cast<DWORD>(timeoutMilliseconds));
    if (woken == WAIT_OBJECT_0 + 1 || Interrupted()) return ChangeWait::Interrupted;
    if (woken == WAIT_TIMEOUT) return ChangeWait::TimedOut;
    if (woken != WAIT_OBJECT_0) {
      *problem = ErrorProblem(::GetLastError());
      return ChangeWait::Failed;
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
      return ChangeWait::Failed;
    }
    if (!read && readError != ERROR_NOTIFY_ENUM_DIR) {
      *problem = ErrorProblem(readError);
      return ChangeWait::Failed;
    }
    // Too many changes for the buffer: what they were is lost.
    if (!read || bytes == 0) {
      changes->push_back({ChangeKind::Lost, "", ""});
    } else {
      Take(bytes, changes);
    }
    return ChangeWait::Changes;
  }

  bool StartOver(std::string* problem) override {
    StopReading();
    ::CloseHandle(folder_);
    folder_ = OpenTop(top_);
    if (folder_ == INVALID_HANDLE_VALUE) {
      *problem = ErrorProblem(::GetLastError());
      return false;
    }
    DWORD error = 0;
    if (!Read(&error)) {
      *problem = ErrorProblem(error);
      return false;
    }
    return true;
  }

 private:
  void StopReading() {
    if (!reading_) return;
    ::CancelIoEx(folder_, &overlapped_);
    DWORD ignored = 0;
    ::GetOverlappedResult(folder_, &overlapped_, &ignored, TRUE);
    reading_ = false;
  }

  std::string Full(const std::string& path) const { return JoinPath(top_, path); }

  void Touch(const std::string& folder) {
    win32::WideBuffer wide;
    if (!win32::SystemPath(Full(folder).c_str(), &wide)) return;
    const HANDLE handle = ::CreateFileW(wide.data(), FILE_LIST_DIRECTORY,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }

  // What the name is now, as far as the file system still tells.
  EntryKind EntryOf(const std::string& path) {
    win32::WideBuffer wide;
    if (!win32::SystemPath(Full(path).c_str(), &wide)) return EntryKind::Unknown;
    const DWORD attributes = ::GetFileAttributesW(wide.data());
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Unknown;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Folder : EntryKind::File;
  }

  // The records of one buffer. The two halves of a rename come one after
  // the other, the old name first.
  void Take(DWORD bytes, std::vector<RawChange>* changes) {
    const char* base = reinterpret_cast<const char*>(copy_.data());
    for (DWORD at = 0; at < bytes;) {
      const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + at);
      const std::string path =
          win32::Utf8(record->FileName, record->FileNameLength / sizeof(wchar_t));
      RawChange change{ChangeKind::Modified, std::string(PathParent(path)),
                       std::string(PathLastName(path))};
      switch (record->Action) {
        case FILE_ACTION_ADDED: change.kind = ChangeKind::Created; break;
        case FILE_ACTION_REMOVED: change.kind = ChangeKind::Removed; break;
        case FILE_ACTION_RENAMED_OLD_NAME:
          change.kind = ChangeKind::RenamedFrom;
          change.renameCookie = ++renames_ == 0 ? ++renames_ : renames_;
          break;
        case FILE_ACTION_RENAMED_NEW_NAME:
          change.kind = ChangeKind::RenamedTo;
          change.renameCookie = renames_;
          break;
        default: break;
      }
      if (change.kind == ChangeKind::Created || change.kind == ChangeKind::RenamedTo ||
          change.kind == ChangeKind::Modified) {
        change.entry = EntryOf(path);
      }
      changes->push_back(std::move(change));
      if (record->NextEntryOffset == 0) break;
      at += record->NextEntryOffset;
    }
  }

  HANDLE folder_;
  OVERLAPPED overlapped_{};
  std::string top_;  // full path, '\' separators
  ChangeTraits traits_;
  std::vector<DWORD> buffer_;  // DWORD-aligned, as the records must be
  std::vector<DWORD> copy_;
  bool reading_ = false;
  uint32_t renames_ = 0;
};

}  // namespace

void WakeChangeWait() {
  if (g_wake != nullptr) ::SetEvent(g_wake);
}

std::unique_ptr<ChangeSource> OpenChangeSource(const std::string& topFullPath,
                                               std::string* problem, bool* limit) {
  *limit = false;
  if (g_wake == nullptr) g_wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetInterruptWaker(&WakeChangeWait);
  const HANDLE folder = g_wake == nullptr ? INVALID_HANDLE_VALUE : OpenTop(topFullPath);
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
  std::string top = topFullPath;
  while (!top.empty() && top.back() == '\\') top.pop_back();
  auto source = std::make_unique<DirectoryChangesSource>(folder, readDone, std::move(top));
  DWORD error = 0;
  if (!source->Read(&error)) {
    *problem = ErrorProblem(error);
    return nullptr;
  }
  return source;
}

}  // namespace os
