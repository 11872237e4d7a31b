// Folders on Windows: each opened by its full path with
// FILE_FLAG_OPEN_REPARSE_POINT (a reparse point is refused, never entered)
// and held without delete sharing while a walk works in it or beneath it, so
// that no folder on the current path can be renamed or replaced meanwhile;
// one FindFirstFileExW listing a folder; files made, renamed and removed by
// full path inside the held folder. Paths reach Windows through the seam's
// conversion (\\?\ forms), as every other file's do.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/folder_access.h"
#include "platform/path_parts.h"
#include "platform/win32/win32_listing.h"
#include "platform/win32/win32_text.h"

namespace os {
namespace {

// What a held folder allows others: reading and writing its entries, never
// renaming or removing it (no FILE_SHARE_DELETE). Listing access makes the
// handle count in the sharing check; attribute access alone would not.
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Reading shares every way: it must not stand in the way of a concurrent
// run's replace, or of an editor's save.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Native(const FolderHandle& folder) { return reinterpret_cast<HANDLE>(folder.native()); }

// Opens a file or folder by its seam path; INVALID_HANDLE_VALUE with the
// last error set when it cannot.
HANDLE OpenPath(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                DWORD flags) {
  win32::WideBuffer wide;
  if (!win32::SystemPath(path.c_str(), &wide)) return INVALID_HANDLE_VALUE;
  return ::CreateFileW(wide.data(), access, share, nullptr, disposition, flags, nullptr);
}

HANDLE OpenFolder(const std::string& path, DWORD flags, Dword* error) {
  HANDLE h = OpenPath(path, kFolderAccess, kFolderShare, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | flags);
  if (h == INVALID_HANDLE_VALUE) {
    *error = ::GetLastError();
    if (*error == ERROR_FILE_NOT_FOUND) *error = ERROR_PATH_NOT_FOUND;
  }
  return h;
}

// Whether the name at a seam path is a reparse point (a link, a junction)
// as the file system tells it by name.
bool NameIsLink(const std::string& path) {
  win32::WideBuffer wide;
  if (!win32::SystemPath(path.c_str(), &wide)) return false;
  const DWORD attributes = ::GetFileAttributesW(wide.data());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

DWORD AttributesOf(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return INVALID_FILE_ATTRIBUTES;
  return info.dwFileAttributes;
}

bool MarkForDeletion(HANDLE file, bool mark) {
  FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(mark ? TRUE : FALSE)};
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t chunk = std::min<size_t>(bytes.size() - done, 1u << 30);
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data() + done, static_cast<DWORD>(chunk), &written, nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

// Reads file to its end or to limit bytes. 0 or the error.
Dword ReadAll(HANDLE file, size_t limit, std::string* bytes) {
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file, &size) && size.QuadPart > 0) {
    bytes->reserve(static_cast<size_t>(
        std::min<unsigned long long>(limit, static_cast<unsigned long long>(size.QuadPart))));
  }
  char buffer[65536];
  while (bytes->size() < limit) {
    DWORD n = 0;
    const size_t want = std::min(sizeof buffer, limit - bytes->size());
    if (!::ReadFile(file, buffer, static_cast<DWORD>(want), &n, nullptr)) return ::GetLastError();
    if (n == 0) break;
    bytes->append(buffer, n);
  }
  return 0;
}

// Reads an open file whose attributes are these as ReadAll does, when it is
// a file on disk: 0 or the error (kErrorIsFolder, kErrorNotRegularFile for
// a pipe or a device).
Dword ReadRegularFile(HANDLE file, DWORD attributes, size_t limit, std::string* bytes) {
  const Dword error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : 0;
  // Asked first: Wine has no attributes for a named pipe of Linux's.
  if (::GetFileType(file) != FILE_TYPE_DISK) return kErrorNotRegularFile;
  if (error != 0) return error;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kErrorIsFolder;
  return ReadAll(file, limit, bytes);
}

// Renames an open file over target (a full path) by its handle, flushed and
// unmarked first; marked again when the rename fails.
Dword RenameByHandle(HANDLE file, const std::string& target) {
  // A rename by handle takes the target's full NT path.
  std::wstring path = win32::Wide(target);
  if (path.rfind(L"\\\\?\\", 0) == 0) {
    path = L"\\??\\" + path.substr(4);
  } else if (path.rfind(L"\\\\", 0) == 0) {
    path = L"\\??\\UNC\\" + path.substr(2);
  } else {
    path = L"\\??\\" + path;
  }
  const size_t size = sizeof(FILE_RENAME_INFO) + path.size() * sizeof(wchar_t);
  std::string buffer(size, '\0');
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, path.data(), path.size() * sizeof(wchar_t));
  if (!::FlushFileBuffers(file) || !MarkForDeletion(file, false)) return ::GetLastError();
  if (!::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(size))) {
    const Dword error = ::GetLastError();
    MarkForDeletion(file, true);
    return error;
  }
  return 0;
}

// The name of a folder opened as ROOT, as the file system holds it: "" at
// a drive root.
std::string RealOwnName(HANDLE h, const std::string& fullPath) {
  std::wstring real(win32::kLongestPath, L'\0');
  const DWORD length = ::GetFinalPathNameByHandleW(h, real.data(), static_cast<DWORD>(real.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  std::string name;
  if (length > 0 && length < real.size()) {
    real.resize(length);
    while (!real.empty() && real.back() == L'\\') real.pop_back();
    name = win32::Utf8(real.data(), real.size());
  } else {
    name = fullPath;
    while (!name.empty() && name.back() == '\\') name.pop_back();
  }
  name = std::string(PathLastName(name));
  // A drive root ("C:") has no name of its own.
  if (name.size() == 2 && name[1] == ':') name.clear();
  return name;
}

class Win32Folders final : public FolderAccess {
 public:
  // Windows has no small limit on handles; a path of 32,767 units bounds the
  // depth.
  HandleBudget Budget() const override { return {size_t{1} << 20, 512}; }

  Dword OpenRoot(const std::string& fullPath, FolderHandle* folder,
                 std::string* ownName) override {
    Dword error = 0;
    // ROOT is what the user named: a link there is followed.
    HANDLE h = OpenFolder(fullPath, 0, &error);
    if (h == INVALID_HANDLE_VALUE) return error;
    *folder = FolderHandle(reinterpret_cast<intptr_t>(h), fullPath);
    // The name as the file system holds it, whatever case ROOT was typed in.
    *ownName = RealOwnName(h, fullPath);
    return 0;
  }

  Dword OpenSub(const FolderHandle& parent, std::string_view name, FolderHandle* folder) override {
    Dword error = 0;
    std::string path = JoinPath(parent.path(), name);
    // Wine follows a Unix link despite FILE_FLAG_OPEN_REPARSE_POINT and its
    // handle shows no reparse point; only the name does. The name is asked
    // before the open and after it, so that a link put there in between is
    // refused too.
    if (win32::UnderWine() && NameIsLink(path)) return kErrorIsLink;
    HANDLE h = OpenFolder(path, FILE_FLAG_OPEN_REPARSE_POINT, &error);
    if (h == INVALID_HANDLE_VALUE) return error;
    const DWORD attributes = AttributesOf(h);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      error = ::GetLastError();
    } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
               (win32::UnderWine() && NameIsLink(path))) {
      error = kErrorIsLink;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      error = ERROR_DIRECTORY;
    }
    if (error != 0) {
      ::CloseHandle(h);
      return error;
    }
    *folder = FolderHandle(reinterpret_cast<intptr_t>(h), std::move(path));
    return 0;
  }

  Dword OpenParent(const FolderHandle& folder, FolderHandle* parent) override {
    std::string path(PathParent(folder.path()));
    if (path.ends_with(':')) path.push_back('\\');  // a drive's root, not its current folder
    Dword error = 0;
    HANDLE h = OpenFolder(path, FILE_FLAG_OPEN_REPARSE_POINT, &error);
    if (h == INVALID_HANDLE_VALUE) return error;
    *parent = FolderHandle(reinterpret_cast<intptr_t>(h), std::move(path));
    return 0;
  }

  uint64_t Identity(const FolderHandle& folder) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(Native(folder), &info)) return 0;
    return ((static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) ^
           (static_cast<uint64_t>(info.dwVolumeSerialNumber) << 40) ^ 1;
  }

  Dword Attributes(const FolderHandle& folder, std::string_view) override {
    return AttributesOf(Native(folder));
  }

  Dword List(const FolderHandle& folder, std::vector<ListedEntry>* entries) override {
    entries->clear();
    win32::WideBuffer wide;
    if (!win32::SystemPath(JoinPath(folder.path(), "*").c_str(), &wide)) return ::GetLastError();
    WIN32_FIND_DATAW found;
    HANDLE find = win32::FindFirstBasic(wide.data(), &found);
    if (find == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      return error == ERROR_FILE_NOT_FOUND ? 0 : error;  // nothing at all, not even . and ..
    }
    do {
      std::string name = win32::Utf8(found.cFileName, wcsnlen(found.cFileName, MAX_PATH));
      if (name == "." || name == "..") continue;
      // kAttrLink is FILE_ATTRIBUTE_REPARSE_POINT: a junction, a mounted
      // folder or a symbolic link.
      entries->push_back({std::move(name), found.dwFileAttributes});
    } while (::FindNextFileW(find, &found));
    const DWORD error = ::GetLastError();
    ::FindClose(find);
    return error == ERROR_NO_MORE_FILES ? 0 : error;
  }

  Dword ReadFile(const FolderHandle& folder, std::string_view name, size_t limit,
                 std::string* bytes) override {
    bytes->clear();
    // Opened by this call alone, without the seam's waiting: the caller
    // decides how long a held manifest is waited for.
    HANDLE file = OpenPath(JoinPath(folder.path(), name), GENERIC_READ, kShareAll, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    const DWORD attributes = AttributesOf(file);
    const Dword error = attributes != INVALID_FILE_ATTRIBUTES &&
                                (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                            ? kErrorIsLink
                            : ReadRegularFile(file, attributes, limit, bytes);
    ::CloseHandle(file);
    return error;
  }

  Dword FileAttributes(const FolderHandle& folder, std::string_view name) override {
    win32::WideBuffer wide;
    if (!win32::SystemPath(JoinPath(folder.path(), name).c_str(), &wide)) {
      return INVALID_FILE_ATTRIBUTES;
    }
    return ::GetFileAttributesW(wide.data());
  }

  Dword Stage(const FolderHandle& folder, std::string_view name, const std::string& bytes,
              StagedFile* staged) override {
    // CREATE_NEW never opens a file someone else made. Kept open until its
    // rename, it may be read meanwhile (by a concurrent run, once it is the
    // manifest) and renamed over.
    HANDLE file = OpenPath(JoinPath(folder.path(), name), GENERIC_WRITE | DELETE,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
      const Dword error = ::GetLastError();
      return error == ERROR_ALREADY_EXISTS ? kErrorFileExists : error;
    }
    // Marked from just after its creation until just before its rename, so
    // that it goes with the process however the process ends.
    if (!MarkForDeletion(file, true)) {
      const Dword error = ::GetLastError();
      ::CloseHandle(file);
      Remove(folder, name);
      return error;
    }
    if (!WriteAll(file, bytes)) {
      const Dword error = ::GetLastError();
      ::CloseHandle(file);  // marked: closing removes it
      return error;
    }
    *staged = StagedFile{std::string(name), reinterpret_cast<intptr_t>(file)};
    return 0;
  }

  // Each file is flushed as it replaces its target.
  size_t SyncBatchSize() const override { return 1; }
  Dword Sync(const std::vector<const FolderHandle*>&,
             const std::vector<const StagedFile*>&) override {
    return 0;
  }

  Dword Replace(const FolderHandle& folder, StagedFile* file, std::string_view target) override {
    const Dword error =
        RenameByHandle(reinterpret_cast<HANDLE>(file->native), JoinPath(folder.path(), target));
    if (error != 0) return error;
    // It has become the manifest: closing it keeps it.
    ::CloseHandle(reinterpret_cast<HANDLE>(file->native));
    file->native = -1;
    return 0;
  }

  bool HeldByAnother(Dword error) const override {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
  }

  void Discard(const FolderHandle& folder, StagedFile* file) override {
    if (file->native == -1) {
      Remove(folder, file->name);
      return;
    }
    // Still marked for deletion: closing removes it.
    ::CloseHandle(reinterpret_cast<HANDLE>(file->native));
    file->native = -1;
  }

  bool Remove(const FolderHandle& folder, std::string_view name) override {
    win32::WideBuffer wide;
    return win32::SystemPath(JoinPath(folder.path(), name).c_str(), &wide) &&
           ::DeleteFileW(wide.data());
  }

  // NTFS writes a rename to its log itself; there is no call to batch.
  void SyncRenames(const std::vector<const FolderHandle*>&) override {}

  Dword Stamp(const FolderHandle& folder, std::string_view name, FileStamp* stamp) override {
    HANDLE h = Native(folder);
    if (!name.empty()) {
      h = OpenPath(JoinPath(folder.path(), name), FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
      if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
    const Dword error = ok ? 0 : ::GetLastError();
    if (!name.empty()) ::CloseHandle(h);
    if (!ok) return error;
    // FILETIME counts 100 ns from 1601.
    const int64_t written = (static_cast<int64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                            info.ftLastWriteTime.dwLowDateTime;
    stamp->identity = ((static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) ^
                      (static_cast<uint64_t>(info.dwVolumeSerialNumber) << 40) ^ 1;
    stamp->written = (written - 116444736000000000LL) * 100;
    stamp->changed = 0;
    stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp->attributes = info.dwFileAttributes;
    return 0;
  }

  Dword OpenBeneath(const FolderHandle& top, std::string_view relative,
                    FolderHandle* folder) override {
    if (relative.empty()) {
      Dword error = 0;
      HANDLE h = OpenFolder(top.path(), 0, &error);
      if (h == INVALID_HANDLE_VALUE) return error;
      *folder = FolderHandle(reinterpret_cast<intptr_t>(h), top.path());
      return 0;
    }
    // By its full path: the folder itself is checked, as OpenSub checks it.
    const std::string_view above = PathParent(relative);
    const FolderHandle parent(-1, above.empty() ? top.path() : JoinPath(top.path(), above));
    return OpenSub(parent, PathLastName(relative), folder);
  }

  Dword OpenToKeep(const std::string& fullPath, FolderHandle* folder) override {
    HANDLE h = OpenPath(fullPath, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                        kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (h == INVALID_HANDLE_VALUE) {
      const Dword error = ::GetLastError();
      return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
    }
    *folder = FolderHandle(reinterpret_cast<intptr_t>(h), fullPath);
    return 0;
  }

  bool Removed(const FolderHandle& folder) override {
    FILE_STANDARD_INFO info;
    if (!::GetFileInformationByHandleEx(Native(folder), FileStandardInfo, &info, sizeof info)) {
      return true;
    }
    return info.DeletePending || info.NumberOfLinks == 0;
  }
};

}  // namespace

void FolderHandle::Close(intptr_t native) { ::CloseHandle(reinterpret_cast<HANDLE>(native)); }

FolderAccess& SystemFolders() {
  static Win32Folders* folders = new Win32Folders;  // never destroyed: used until the end
  return *folders;
}

bool FullPath(const std::string& path, std::string* full, Dword* error) {
  // Resolved as every other path is on its way to Windows, never by
  // GetFullPathNameW, which takes a trailing dot or space off the last name
  // (ROOT "A." would name the folder A) and does not take every \\?\ form.
  win32::WideBuffer system;
  if (path.empty() || !win32::SystemPath(path.c_str(), &system)) {
    *error = path.empty() ? ERROR_PATH_NOT_FOUND : ::GetLastError();
    return false;
  }
  std::wstring result(system.data());
  // The usual form of a drive's or a share's path: the seam's conversion
  // puts the prefix back, and names stay exact.
  if (result.starts_with(L"\\\\?\\UNC\\")) {
    result.replace(0, 8, L"\\\\");
  } else if (result.size() >= 6 && result.starts_with(L"\\\\?\\") && result[5] == L':') {
    result.erase(0, 4);
  }
  // A trailing separator (other than a drive root's) is not part of the
  // folder's name.
  while (result.size() > 3 && (result.back() == L'\\' || result.back() == L'/')) result.pop_back();
  *full = win32::Utf8(result.data(), result.size());
  return true;
}

Dword ReadFileStart(const std::string& path, size_t limit, std::string* bytes) {
  bytes->clear();
  // Backup semantics open a folder too, so that it is told from a file
  // that may not be read.
  HANDLE file = OpenPath(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
  const Dword error = ReadRegularFile(file, AttributesOf(file), limit, bytes);
  ::CloseHandle(file);
  return error;
}

// NTFS, FAT and the shares Windows serves all match a name in any case.
bool NamesAnyCase() { return true; }

}  // namespace os
