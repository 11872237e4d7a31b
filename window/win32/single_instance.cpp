#include "window/win32/single_instance.h"

#include "platform/folder_access.h"
#include "platform/platform.h"
#include "window/win32/resource.h"
#include "window/win32/texts.h"
#include "window/win32/wide_text.h"

namespace window {
namespace {

struct Search {
  const std::wstring* key;
  HWND found;
};

// Asks one window whether it is this program's and shows the folder sought.
BOOL CALLBACK AskWindow(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  wchar_t name[64] = L"";
  ::GetClassNameW(hwnd, name, 64);
  if (wcscmp(name, ids::kWindowClass) != 0) return TRUE;
  COPYDATASTRUCT data{ids::kShowsFolder, static_cast<DWORD>(search->key->size() * sizeof(wchar_t)),
                      const_cast<wchar_t*>(search->key->c_str())};
  DWORD_PTR answer = FALSE;
  if (::SendMessageTimeoutW(hwnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                            2000, &answer) &&
      answer == TRUE) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

bool ResolveFolder(const std::wstring& given, std::wstring* full, std::string* problem) {
  std::string resolved;
  os::Dword error = 0;
  if (!os::FullPath(Utf8(given), &resolved, &error)) {
    *problem = Utf8(Format(IDS_CANNOT_FIND_FOLDER, {given}));
    return false;
  }
  const os::Dword attributes = os::Os().GetFileAttributesA(resolved.c_str());
  if (attributes == os::kInvalidFileAttributes) {
    const os::Dword why = os::Os().GetLastError();
    const bool gone = why == os::kErrorFileNotFound || why == os::kErrorPathNotFound;
    *problem = Utf8(Format(gone ? IDS_DOES_NOT_EXIST : IDS_CANNOT_BE_OPENED, {given}));
    return false;
  }
  if ((attributes & os::kAttrDirectory) == 0) {
    *problem = Utf8(Format(IDS_NOT_A_FOLDER, {given}));
    return false;
  }
  *full = Wide(resolved);
  return true;
}

std::wstring FolderKey(const std::wstring& fullPath) {
  std::wstring key = fullPath;
  while (key.size() > 3 && key.back() == L'\\') key.pop_back();
  if (!key.empty()) ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

bool BroughtToFront(const std::wstring& fullPath) {
  const std::wstring key = FolderKey(fullPath);
  Search search{&key, nullptr};
  ::EnumWindows(&AskWindow, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return false;
  ::SetForegroundWindow(search.found);
  return true;
}

LRESULT AnswerShowsFolder(HWND hwnd, const std::wstring& shownKey, LPARAM question) {
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(question);
  if (data->dwData != ids::kShowsFolder || shownKey.empty()) return FALSE;
  const std::wstring key(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
  if (key != shownKey) return FALSE;
  if (::IsIconic(hwnd)) ::ShowWindow(hwnd, SW_RESTORE);
  return TRUE;
}

}  // namespace window
