#include "window/win32/dialogs.h"

#include <shlobj.h>
#include <shobjidl.h>

#include "window/win32/resource.h"
#include "window/win32/wide_text.h"

namespace window {
namespace {

std::wstring PickWithDialog(IFileOpenDialog* dialog, HWND owner, const std::wstring& current) {
  std::wstring picked;
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  dialog->SetTitle(Text(IDS_PICK_FOLDER).c_str());
  IShellItem* item = nullptr;
  if (!current.empty() &&
      SUCCEEDED(::SHCreateItemFromParsingName(current.c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(&item)))) {
    dialog->SetFolder(item);
    item->Release();
    item = nullptr;
  }
  if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item))) {
    wchar_t* path = nullptr;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
      picked = path;
      ::CoTaskMemFree(path);
    }
    item->Release();
  }
  return picked;
}

// Without the newer dialog: the folder browser.
std::wstring PickWithBrowser(HWND owner) {
  std::wstring picked;
  const std::wstring title = Text(IDS_PICK_FOLDER);
  BROWSEINFOW browse{};
  browse.hwndOwner = owner;
  browse.lpszTitle = title.c_str();
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  if (PIDLIST_ABSOLUTE list = ::SHBrowseForFolderW(&browse)) {
    std::wstring path(kLongestPath, L'\0');
    if (::SHGetPathFromIDListEx(list, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) {
      picked = path.c_str();
    }
    ::CoTaskMemFree(list);
  }
  return picked;
}

}  // namespace

std::wstring PickFolder(HWND owner, const std::wstring& current) {
  IFileOpenDialog* dialog = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, reinterpret_cast<void**>(&dialog)))) {
    return PickWithBrowser(owner);
  }
  std::wstring picked = PickWithDialog(dialog, owner, current);
  dialog->Release();
  return picked;
}

std::wstring DroppedFolder(HDROP drop) {
  const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
  std::wstring dropped(length + 1, L'\0');
  ::DragQueryFileW(drop, 0, dropped.data(), length + 1);
  ::DragFinish(drop);
  dropped.resize(length);
  return dropped;
}

void Warn(HWND owner, const std::wstring& text) {
  ::MessageBoxW(owner, text.c_str(), Text(IDS_TITLE).c_str(), MB_OK | MB_ICONWARNING);
}

void ShowAbout(HWND owner) {
  ::MessageBoxW(owner, Text(IDS_ABOUT).c_str(), Text(IDS_TITLE).c_str(), MB_OK | MB_ICONINFORMATION);
}

std::wstring LastErrorText() {
  const DWORD error = ::GetLastError();
  wchar_t text[256] = L"";
  // In the language the window speaks where this Windows has its messages,
  // else in its own.
  constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if (::FormatMessageW(kFlags, nullptr, error, Speaking(), text, 256, nullptr) == 0) {
    ::FormatMessageW(kFlags, nullptr, error, 0, text, 256, nullptr);
  }
  return text;
}

}  // namespace window
