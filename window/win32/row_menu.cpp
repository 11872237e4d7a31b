#include "window/win32/row_menu.h"

#include <shellapi.h>

#include <cstring>

#include "window/win32/dialogs.h"
#include "window/win32/resource.h"

namespace window {
namespace {

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// What the shell opens, with the box it shows itself when no program is
// set for the file (Open with); any other failure said in a box of ours.
void Open(HWND owner, const wchar_t* verb, const std::wstring& path) {
  SHELLEXECUTEINFOW run{sizeof run};
  run.hwnd = owner;
  run.lpVerb = verb;
  run.lpFile = path.c_str();
  run.nShow = SW_SHOWNORMAL;
  if (::ShellExecuteExW(&run) || ::GetLastError() == ERROR_CANCELLED) return;
  Warn(owner, Format(IDS_CANNOT_OPEN, {path, LastErrorText()}));
}

}  // namespace

void ShowRowMenu(HWND owner, POINT at, const RowPaths& row) {
  HMENU menu = ::CreatePopupMenu();
  ::AppendMenuW(menu, MF_STRING, IDM_ROW_EXPLORE, Text(IDS_ROW_EXPLORE).c_str());
  ::AppendMenuW(menu, MF_STRING | (IsFile(row.manifest) ? 0 : MF_GRAYED), IDM_ROW_OPEN_MANIFEST,
                Text(IDS_ROW_OPEN_MANIFEST).c_str());
  ::AppendMenuW(menu, MF_STRING, IDM_ROW_COPY_PATH, Text(IDS_ROW_COPY_PATH).c_str());
  const UINT picked = static_cast<UINT>(
      ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr));
  ::DestroyMenu(menu);
  switch (picked) {
    case IDM_ROW_EXPLORE: Open(owner, L"explore", row.folder); break;
    case IDM_ROW_OPEN_MANIFEST: Open(owner, nullptr, row.manifest); break;
    case IDM_ROW_COPY_PATH:
      if (!CopyToClipboard(owner, row.folder)) Warn(owner, Format(IDS_CANNOT_COPY, {LastErrorText()}));
      break;
    default: break;
  }
}

bool CopyToClipboard(HWND owner, const std::wstring& text) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory == nullptr) return false;
  std::memcpy(::GlobalLock(memory), text.c_str(), bytes);
  ::GlobalUnlock(memory);
  if (!::OpenClipboard(owner)) {
    const DWORD error = ::GetLastError();
    ::GlobalFree(memory);
    ::SetLastError(error);
    return false;
  }
  ::EmptyClipboard();
  // The clipboard owns the memory once it took it.
  const bool taken = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  const DWORD error = ::GetLastError();
  if (!taken) ::GlobalFree(memory);
  ::CloseClipboard();
  ::SetLastError(error);
  return taken;
}

}  // namespace window
