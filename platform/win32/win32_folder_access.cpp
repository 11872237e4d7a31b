// Folders on Windows: ROOT opened by its full path, each folder beneath it
// relative to its parent's handle, without following a reparse point (one is
// refused, never entered), and held without delete sharing while a walk
// works in it or beneath it, so that no folder on the current path can be
// renamed or replaced meanwhile; each listed once from its handle; its files
// read, made, renamed and removed relative to that handle too, so that no
// path is looked up from the drive's root again. Full paths reach Windows
// through the seam's conversion (\\?\ forms), as every other file's do.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/folder_access.h"
#include "platform/path_parts.h"
#include "platform/win32/win32_listing.h"
#include "platform/win32/win32_nt.h"
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

// Whether name in the folder is a reparse point (a link, a junction) as the
// file system tells it by name.
bool NameIsLink(const FolderHandle& folder, std::string_view name) {
  DWORD attributes = 0;
  return win32::AttributesIn(folder, name, &attributes) == 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

DWORD AttributesOf(HANDLE h) {
  FILE_BASIC_INFO info;
  if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &info, sizeof info)) {
    return INVALID_FILE_ATTRIBUTES;
  }
  return info.FileAttributes;
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

// Reads a file on disk to its end or to limit bytes, in as few reads as it
// can: a read that gets less than it asked for has met the end, so that a
// manifest costs one read. 0 or the error.
Dword ReadAll(HANDLE file, size_t limit, std::string* bytes) {
  while (bytes->size() < limit) {
    const size_t have = bytes->size();
    // 64 KiB first, then as much again as was read: a huge limit costs
    // nothing for a small file.
    const size_t want = std::min({limit - have, std::max<size_t>(have, 65536), size_t{1} << 30});
    bytes->resize(have + want);
    DWORD n = 0;
    const bool ok = ::ReadFile(file, bytes->data() + have, static_cast<DWORD>(want), &n, nullptr);
    bytes->resize(have + (ok ? n : 0));
    if (!ok) return ::GetLastError();
    if (n < want) break;
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

// Renames an open file over target in the folder by its handle, unmarked
// first (its bytes are on disk: Sync flushed it); marked again when the
// rename fails.
Dword RenameByHandle(HANDLE file, const FolderHandle& folder, std::string_view target) {
  if (!MarkForDeletion(file, false)) return ::GetLastError();
  if (const win32::NtStatus status = win32::RenameInto(file, folder, target); status != 0) {
    MarkForDeletion(file, true);
    return win32::ErrorOfStatus(status);
  }
  return 0;
}

// Flushes the staged files, a few threads taking the next file each, the
// calling thread among them (alone where no thread can be started). 0, or
// the error of a flush that failed.
Dword FlushSideBySide(const std::vector<const StagedFile*>& files) {
  struct Work {
    const std::vector<const StagedFile*>* files;
    volatile LONG next = 0;
    volatile LONG error = 0;
    static DWORD WINAPI Run(void* self) {
      auto* work = static_cast<Work*>(self);
      for (;;) {
        const LONG i = ::InterlockedIncrement(&work->next) - 1;
        if (static_cast<size_t>(i) >= work->files->size()) return 0;
        if (!::FlushFileBuffers(reinterpret_cast<HANDLE>((*work->files)[i]->native))) {
          ::InterlockedCompareExchange(&work->error, static_cast<LONG>(::GetLastError()), 0);
        }
      }
    }
  } work;
  work.files = &files;
  constexpr size_t kThreads = 8;
  HANDLE threads[kThreads - 1];
  DWORD started = 0;
  while (started + 1 < std::min(kThreads, files.size())) {
    HANDLE t = ::CreateThread(nullptr, 64 * 1024, Work::Run, &work,
                              STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (t == nullptr) break;
    threads[started++] = t;
  }
  Work::Run(&work);
  if (started > 0) ::WaitForMultipleObjects(started, threads, TRUE, INFINITE);
  for (DWORD i = 0; i < started; ++i) ::CloseHandle(threads[i]);
  return static_cast<Dword>(work.error);
}

// How a file of a folder is opened to be read: never through a reparse
// point, a folder refused by the open itself.
constexpr ULONG kReadOptions =
    win32::kOpenReparsePoint | win32::kOpenForBackup | win32::kOpenNonDirectory;

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

// The path an open file or folder lies at now, links resolved, in the
// \\?\ form; "" when it cannot be told.
std::wstring FinalPathOf(HANDLE h) {
  std::wstring path(MAX_PATH, L'\0');
  for (int tries = 0; tries < 2; ++tries) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        h, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      while (!path.empty() && path.back() == L'\\') path.pop_back();
      return path;
    }
    path.assign(length + 1, L'\0');
  }
  return {};
}

// Whether h, opened as relative (names joined by '\\') in parent, lies at
// that path and not where a link on the way leads: 0, or kErrorIsLink.
// Names are compared in any case, as the open matched them.
Dword LiesAt(HANDLE h, const FolderHandle& parent, std::string_view relative) {
  std::wstring expected = FinalPathOf(Native(parent));
  const std::wstring found = FinalPathOf(h);
  if (expected.empty() || found.empty()) return kErrorIsLink;
  expected += L'\\';
  expected += win32::Wide(relative);
  const bool same = ::CompareStringOrdinal(expected.data(), static_cast<int>(expected.size()),
                                           found.data(), static_cast<int>(found.size()),
                                           TRUE) == CSTR_EQUAL;
  return same ? 0 : kErrorIsLink;
}

// Whether the folder h, opened as name in parent, is the one its listing
// named by listed: 0; kErrorIsLink when a link now stands there, else
// kErrorPathNotFound (another folder was put in its place).
Dword CarriesId(HANDLE h, uint64_t listed, const FolderHandle& parent, std::string_view name) {
  uint64_t id = 0;
  if (const win32::NtStatus status = win32::FileIdOf(h, &id)) return win32::ErrorOfStatus(status);
  if (id == listed) return 0;
  return NameIsLink(parent, name) ? kErrorIsLink : ERROR_PATH_NOT_FOUND;
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

  // Relative to the parent's handle (by its path where it has none).
  // Windows keeps the open from following a reparse point, which the
  // handle's attributes then show. Wine follows a Unix link whatever it is
  // told and shows none, so there the folder opened must be the one the
  // listing named (its file reference), or, with no listing to go by, lie
  // at the name's own path.
  Dword OpenSub(const FolderHandle& parent, std::string_view name, uint64_t listed,
                FolderHandle* folder) override {
    const bool wine = win32::UnderWine();
    HANDLE h = INVALID_HANDLE_VALUE;
    const win32::NtStatus status =
        win32::OpenIn(parent, name, kFolderAccess, kFolderShare, win32::kDispositionOpen,
                      win32::kOpenReparsePoint | win32::kOpenForBackup |
                          (wine ? win32::kOpenDirectory : 0),
                      &h);
    if (status != 0) {
      const Dword error = win32::ErrorOfStatus(status);
      return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
    }
    Dword error = 0;
    if (wine) {
      error = listed != 0 ? CarriesId(h, listed, parent, name) : LiesAt(h, parent, name);
    } else if (const DWORD attributes = AttributesOf(h); attributes == INVALID_FILE_ATTRIBUTES) {
      error = ::GetLastError();
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      error = kErrorIsLink;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      error = ERROR_DIRECTORY;
    }
    if (error != 0) {
      ::CloseHandle(h);
      return error;
    }
    *folder = FolderHandle(reinterpret_cast<intptr_t>(h), JoinPath(parent.path(), name));
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

  // From the folder's own handle: what a listing by path would give, with
  // no path looked up.
  Dword List(const FolderHandle& folder, std::vector<ListedEntry>* entries) override {
    bool dots = false;
    if (const win32::NtStatus status = win32::ListOpen(Native(folder), entries, &dots)) {
      entries->clear();
      return Removed(folder) ? ERROR_PATH_NOT_FOUND : win32::ErrorOfStatus(status);
    }
    // A folder removed while open lists nothing (a drive's root has no dots).
    if (entries->empty() && Removed(folder)) return ERROR_PATH_NOT_FOUND;
    return 0;
  }

  Dword ReadFile(const FolderHandle& folder, std::string_view name, size_t limit,
                 std::string* bytes) override {
    bytes->clear();
    // Opened by this call alone, without the seam's waiting: the caller
    // decides how long a held manifest is waited for.
    HANDLE file = INVALID_HANDLE_VALUE;
    const win32::NtStatus status = win32::OpenIn(folder, name, GENERIC_READ, kShareAll,
                                                 win32::kDispositionOpen, kReadOptions, &file);
    if (status == win32::kStatusFileIsADirectory) {
      // A junction or a link to a folder is a link, as Windows tells it.
      return !win32::UnderWine() && NameIsLink(folder, name) ? kErrorIsLink : kErrorIsFolder;
    }
    if (status != 0) return win32::ErrorOfStatus(status);
    Dword error = 0;
    if (win32::UnderWine()) {
      // Wine's handle shows no reparse point, and a Unix named pipe has no
      // attributes: only its type tells it.
      if (::GetFileType(file) != FILE_TYPE_DISK) error = kErrorNotRegularFile;
    } else if (const DWORD attributes = AttributesOf(file); attributes == INVALID_FILE_ATTRIBUTES) {
      error = ::GetFileType(file) != FILE_TYPE_DISK ? kErrorNotRegularFile : ::GetLastError();
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      error = kErrorIsLink;
    }
    if (error == 0) error = ReadAll(file, limit, bytes);
    ::CloseHandle(file);
    return error;
  }

  Dword FileAttributes(const FolderHandle& folder, std::string_view name) override {
    DWORD attributes = 0;
    if (const win32::NtStatus status = win32::AttributesIn(folder, name, &attributes)) {
      ::SetLastError(win32::ErrorOfStatus(status));
      return INVALID_FILE_ATTRIBUTES;
    }
    return attributes;
  }

  Dword Stage(const FolderHandle& folder, std::string_view name, const std::string& bytes,
              StagedFile* staged) override {
    // FILE_CREATE never opens a file someone else made, nor a link. Kept
    // open until its rename, it may be read meanwhile (by a concurrent run,
    // once it is the manifest) and renamed over.
    HANDLE file = INVALID_HANDLE_VALUE;
    if (const win32::NtStatus status = win32::OpenIn(
            folder, name, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
            win32::kDispositionCreate, win32::kOpenNonDirectory, &file)) {
      return win32::ErrorOfStatus(status);
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

  // A batch's files flushed side by side: the file system puts them on disk
  // together (NTFS's log, ext4's journal under Wine), where one after
  // another each waits for the disk alone.
  size_t SyncBatchSize() const override { return 64; }
  Dword Sync(const std::vector<const FolderHandle*>&,
             const std::vector<const StagedFile*>& files) override {
    return FlushSideBySide(files);
  }

  Dword Replace(const FolderHandle& folder, StagedFile* file, std::string_view target) override {
    const Dword error = RenameByHandle(reinterpret_cast<HANDLE>(file->native), folder, target);
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

  // As DeleteFileW removes a file (a link itself), relative to the folder.
  bool Remove(const FolderHandle& folder, std::string_view name) override {
    HANDLE file = INVALID_HANDLE_VALUE;
    if (const win32::NtStatus status =
            win32::OpenIn(folder, name, DELETE, kShareAll, win32::kDispositionOpen,
                          win32::kOpenNonDirectory | win32::kOpenReparsePoint, &file)) {
      ::SetLastError(win32::ErrorOfStatus(status));
      return false;
    }
    // Wine's open follows a link, and removing that would remove what it
    // leads to: only a name that lies in the folder itself is removed.
    if (win32::UnderWine()) {
      if (const Dword error = LiesAt(file, folder, name)) {
        ::CloseHandle(file);
        ::SetLastError(error);
        return false;
      }
    }
    const bool removed = MarkForDeletion(file, true);
    ::CloseHandle(file);
    return removed;
  }

  // NTFS writes a rename to its log itself; there is no call to batch.
  void SyncRenames(const std::vector<const FolderHandle*>&) override {}

  Dword Stamp(const FolderHandle& folder, std::string_view name, FileStamp* stamp) override {
    HANDLE h = Native(folder);
    if (!name.empty()) {
      const win32::NtStatus status =
          win32::OpenIn(folder, name, FILE_READ_ATTRIBUTES, kShareAll, win32::kDispositionOpen,
                        win32::kOpenReparsePoint | win32::kOpenForBackup, &h);
      if (status != 0) return win32::ErrorOfStatus(status);
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
    // Under Wine in one open beneath top, checked to lie at its own path,
    // which a link anywhere on the way would change.
    if (win32::UnderWine()) return OpenSub(top, relative, 0, folder);
    // On Windows one name at a time, each refused when it is a reparse
    // point: an open of the whole path would follow one on the way.
    return OpenNameByName(top, relative, folder);
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
