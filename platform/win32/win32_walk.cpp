// The whole-tree tool's walk on Windows: each folder opened by its full
// path with FILE_FLAG_OPEN_REPARSE_POINT (a reparse point is refused, never
// entered) and held without delete sharing while the walk works in it or
// beneath it, so that no folder on the current path can be renamed or
// replaced meanwhile; one FindFirstFileExW listing a folder. Paths reach
// Windows through the seam's conversion, in the form every other file
// takes.
#include <windows.h>

#include <string>

#include "platform/tree_os.h"
#include "platform/win32/win32_text.h"

namespace os::tree {
namespace {

// What a held folder allows others: reading and writing its entries, never
// renaming or removing it (no FILE_SHARE_DELETE). Listing access makes the
// handle count in the sharing check; attribute access alone would not.
constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::string Utf8(const wchar_t* wide, size_t length) {
  std::string text(win32::WideToUtf8(wide, length, nullptr, 0), '\0');
  win32::WideToUtf8(wide, length, text.data(), text.size());
  return text;
}

std::string Join(const std::string& folder, std::string_view name) {
  std::string joined = folder;
  if (joined.empty() || joined.back() != '\\') joined.push_back('\\');
  joined.append(name);
  return joined;
}

HANDLE OpenFolder(const std::string& path, DWORD flags, Dword* error) {
  win32::WideBuffer wide;
  if (!win32::SystemPath(path.c_str(), &wide)) {
    *error = ::GetLastError();
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = ::CreateFileW(wide.data(), kFolderAccess, kFolderShare, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = ::GetLastError();
    if (*error == ERROR_FILE_NOT_FOUND) *error = ERROR_PATH_NOT_FOUND;
  }
  return h;
}

DWORD AttributesOf(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return INVALID_FILE_ATTRIBUTES;
  return info.dwFileAttributes;
}

}  // namespace

FolderHandle::~FolderHandle() {
  if (native_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
  if (this != &other) {
    if (native_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
    native_ = other.native_;
    other.native_ = -1;
  }
  return *this;
}

bool RelativeFiles() { return false; }

// Windows has no small limit on handles; a path of 32,767 units bounds the
// depth.
HandleBudget FolderHandleBudget() { return {size_t{1} << 20, 512}; }

Dword OpenRootFolder(const std::string& fullPath, FolderHandle* folder, std::string* ownName) {
  Dword error = 0;
  // ROOT is what the user named: a link there is followed.
  HANDLE h = OpenFolder(fullPath, 0, &error);
  if (h == INVALID_HANDLE_VALUE) return error;
  *folder = FolderHandle(reinterpret_cast<intptr_t>(h));
  // The name as the file system holds it, whatever case ROOT was typed in.
  std::wstring real(win32::kLongestPath, L'\0');
  const DWORD length = ::GetFinalPathNameByHandleW(h, real.data(), static_cast<DWORD>(real.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length > 0 && length < real.size()) {
    real.resize(length);
    while (!real.empty() && real.back() == L'\\') real.pop_back();
    const size_t cut = real.rfind(L'\\');
    const std::wstring last = cut == std::wstring::npos ? real : real.substr(cut + 1);
    // A drive root ("C:") has no name of its own.
    *ownName = last.size() == 2 && last[1] == L':' ? std::string() : Utf8(last.data(), last.size());
  } else {
    std::string path = fullPath;
    while (!path.empty() && path.back() == '\\') path.pop_back();
    const size_t cut = path.rfind('\\');
    *ownName = cut == std::string::npos ? path : path.substr(cut + 1);
    if (ownName->size() == 2 && (*ownName)[1] == ':') ownName->clear();
  }
  return 0;
}

Dword OpenSubFolder(const FolderHandle&, const std::string& parentPath, std::string_view name,
                    FolderHandle* folder) {
  Dword error = 0;
  HANDLE h = OpenFolder(Join(parentPath, name), FILE_FLAG_OPEN_REPARSE_POINT, &error);
  if (h == INVALID_HANDLE_VALUE) return error;
  const DWORD attributes = AttributesOf(h);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError()
            : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? kErrorIsLink
                                                                : ERROR_DIRECTORY;
    ::CloseHandle(h);
    return error;
  }
  *folder = FolderHandle(reinterpret_cast<intptr_t>(h));
  return 0;
}

uint64_t FolderIdentity(const FolderHandle& folder) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(folder.native()), &info)) return 0;
  return ((static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) ^
         (static_cast<uint64_t>(info.dwVolumeSerialNumber) << 40) ^ 1;
}

Dword FolderAttributes(const FolderHandle& folder, std::string_view) {
  return AttributesOf(reinterpret_cast<HANDLE>(folder.native()));
}

Dword ListFolder(const FolderHandle&, const std::string& path, std::vector<ListedEntry>* entries) {
  entries->clear();
  win32::WideBuffer wide;
  if (!win32::SystemPath(Join(path, "*").c_str(), &wide)) return ::GetLastError();
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileExW(wide.data(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    // Windows before 7 knows neither the basic level nor the large fetch.
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_LEVEL) {
      find = ::FindFirstFileExW(wide.data(), FindExInfoStandard, &found, FindExSearchNameMatch,
                                nullptr, 0);
      error = ::GetLastError();
    }
    if (find == INVALID_HANDLE_VALUE) {
      if (error == ERROR_FILE_NOT_FOUND) return 0;  // nothing at all, not even . and ..
      return error;
    }
  }
  do {
    const size_t length = wcsnlen(found.cFileName, MAX_PATH);
    std::string name = Utf8(found.cFileName, length);
    if (name == "." || name == "..") continue;
    // kAttrLink is FILE_ATTRIBUTE_REPARSE_POINT: a junction, a mounted
    // folder or a symbolic link.
    entries->push_back({std::move(name), found.dwFileAttributes});
  } while (::FindNextFileW(find, &found));
  const DWORD error = ::GetLastError();
  ::FindClose(find);
  return error == ERROR_NO_MORE_FILES ? 0 : error;
}

Dword ReadFileIn(const FolderHandle&, const std::string& path, std::string_view name, size_t limit,
                 std::string* bytes) {
  bytes->clear();
  win32::WideBuffer wide;
  if (!win32::SystemPath(Join(path, name).c_str(), &wide)) return ::GetLastError();
  // Shared every way: reading must not stand in the way of a concurrent
  // run's replace. Opened by this call alone, without the seam's waiting:
  // the caller decides how long a held manifest is waited for.
  HANDLE file = ::CreateFileW(wide.data(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
  Dword error = 0;
  const DWORD attributes = AttributesOf(file);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = ::GetLastError();
  } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    error = kErrorIsLink;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    error = kErrorIsFolder;
  } else {
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file, &size) && size.QuadPart > 0) {
      bytes->reserve(static_cast<size_t>(
          std::min<unsigned long long>(limit, static_cast<unsigned long long>(size.QuadPart))));
    }
    char buffer[65536];
    while (bytes->size() < limit) {
      DWORD n = 0;
      const size_t want = std::min(sizeof buffer, limit - bytes->size());
      if (!::ReadFile(file, buffer, static_cast<DWORD>(want), &n, nullptr)) {
        error = ::GetLastError();
        break;
      }
      if (n == 0) break;
      bytes->append(buffer, n);
    }
  }
  ::CloseHandle(file);
  return error;
}

// Files are made by path through the seam on Windows (RelativeFiles()).
Dword CreateNewFileIn(const FolderHandle&, std::string_view, intptr_t*) {
  return ERROR_INVALID_FUNCTION;
}
Dword WriteAndClose(intptr_t, const std::string&) { return ERROR_INVALID_FUNCTION; }
Dword AttributesIn(const FolderHandle&, std::string_view) { return INVALID_FILE_ATTRIBUTES; }
Dword RenameIn(const FolderHandle&, std::string_view, std::string_view) {
  return ERROR_INVALID_FUNCTION;
}
void DeleteIn(const FolderHandle&, std::string_view) {}

}  // namespace os::tree
