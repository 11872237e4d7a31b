// Change notifications on Windows: one ReadDirectoryChangesW on the top
// folder with its sub-tree, overlapped, asked again as soon as a buffer
// comes back so that few changes fall between two reads. A wait blocks in
// WaitForMultipleObjects on the read and on an event the console's control
// handler sets.
#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/change_source.h"
#include "platform/path_parts.h"
#include "platform/process_control.h"
#include "platform/win32/win32_listing.h"
#include "platform/win32/win32_text.h"

namespace os {
namespace {

// Attributes too, so that a folder made hidden or system, or no longer, is
// reported.
constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES;
// The attributes whose change a folder's watch reports as such.
constexpr DWORD kTellingAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
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

class DirectoryChangesSource final : public ChangeSource {
 public:
  DirectoryChangesSource(HANDLE folder, HANDLE readDone, std::string top)
      : folder_(folder), top_(std::move(top)), buffer_(kBufferBytes / sizeof(DWORD)),
        copy_(buffer_.size()) {
    overlapped_.hEvent = readDone;
    traits_.namesAnyCase = NamesAnyCase();
    traits_.staleAfterFolderRename = win32::UnderWine();
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
  // since, as handle was; callers watch parents first.
  WatchStart Watch(const std::string& folder, const FolderHandle&, std::string*) override {
    attributes_[folder] = AttributesOf(folder);
    return WatchStart::Started;
  }

  void Unwatch(const std::string& folder) override {
    for (auto it = attributes_.lower_bound(folder); it != attributes_.end();) {
      const std::string& held = it->first;
      if (held.size() < folder.size() || !SameText(held.substr(0, folder.size()), folder)) break;
      if (folder.empty() || held.size() == folder.size() || held[folder.size()] == '\\') {
        it = attributes_.erase(it);
      } else {
        ++it;
      }
    }
  }

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
    if (win32::UnderWine()) {
      for (const auto& [folder, attributes] : attributes_) {
        if (!folder.empty()) Touch(folder);
      }
    }
    return true;
  }

 private:
  // Names of one folder in any case, as Windows holds them.
  static bool SameText(const std::string& a, const std::string& b) {
    return ::CompareStringOrdinal(win32::Wide(a).c_str(), -1, win32::Wide(b).c_str(), -1, TRUE) ==
           CSTR_EQUAL;
  }
  struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
      return ::CompareStringOrdinal(win32::Wide(a).c_str(), -1, win32::Wide(b).c_str(), -1, TRUE) ==
             CSTR_LESS_THAN;
    }
  };

  DWORD AttributesOf(const std::string& path) {
    win32::WideBuffer wide;
    if (!win32::SystemPath(Full(path).c_str(), &wide)) return INVALID_FILE_ATTRIBUTES;
    return ::GetFileAttributesW(wide.data());
  }

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

  // What the name is now, as far as the file system still tells. A watched
  // folder's modification whose attributes changed is told as such.
  void Classify(const std::string& path, RawChange* change) {
    const DWORD attributes = AttributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    change->entry = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? EntryKind::Link
                    : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0  ? EntryKind::Folder
                                                                    : EntryKind::File;
    if (change->kind != ChangeKind::Modified) return;
    const auto known = attributes_.find(path);
    if (known == attributes_.end()) return;
    if ((known->second ^ attributes) & kTellingAttributes) change->kind = ChangeKind::AttributesChanged;
    known->second = attributes;
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
        Classify(path, &change);
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
  // The folders told of, with their attributes when last seen.
  std::map<std::string, DWORD, NoCaseLess> attributes_;
};

}  // namespace

std::string UnreportedChangesReason(const FolderHandle& folder) {
  const std::string& path = folder.path();
  // A share by its server's name; any other path is asked of the volume it
  // lies on, however it is spelled (C:\, \\?\C:\, a volume's name, Wine's
  // \\?\unix\).
  const bool device = path.starts_with("\\\\?\\") || path.starts_with("\\\\.\\");
  if (path.starts_with("\\\\?\\UNC\\") || (path.starts_with("\\\\") && !device)) {
    return "a network share";
  }
  std::wstring volume(MAX_PATH + 1, L'\0');
  if (!::GetVolumePathNameW(win32::Wide(path).c_str(), volume.data(),
                            static_cast<DWORD>(volume.size()))) {
    return std::string();
  }
  volume.resize(std::wcslen(volume.c_str()));
  // A drive's root as GetDriveTypeW surely takes it: X:\.
  if (volume.size() == 7 && volume.starts_with(L"\\\\?\\") && volume[5] == L':') volume.erase(0, 4);
  return ::GetDriveTypeW(volume.c_str()) == DRIVE_REMOTE ? "a network drive" : std::string();
}

void WakeChangeWait() {
  if (g_wake != nullptr) ::SetEvent(g_wake);
}

std::unique_ptr<ChangeSource> OpenChangeSource(const std::string& topFullPath,
                                               std::string* problem, bool* limit) {
  *limit = false;
  // A wake that ended an earlier watch of this process must not end this one
  // (an interrupt still does: the wait asks for it first).
  if (g_wake == nullptr) {
    g_wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  } else {
    ::ResetEvent(g_wake);
  }
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
