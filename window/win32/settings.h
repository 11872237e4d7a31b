// What the window keeps per user, under HKEY_CURRENT_USER: its own settings
// (the last folder, its size and place, its language) under
// Software\modmanifest, and the
// entry of Explorer's folder menu under Software\Classes\Directory\shell,
// which starts the window on the folder clicked. Nothing is written beside
// the program, and nothing needs administrator rights.
#pragma once

#include <windows.h>

#include <string>

namespace window::settings {

inline constexpr wchar_t kKey[] = L"Software\\modmanifest";
inline constexpr wchar_t kExplorerKey[] = L"Software\\Classes\\Directory\\shell\\modmanifest";

std::wstring LastFolder();
void SetLastFolder(const std::wstring& folder);

// The language the window speaks when the user chose one ("en", "zh-CN");
// empty: the user's UI language decides. Setting it empty forgets it.
std::wstring Language();
void SetLanguage(const std::wstring& language);

// The window's placement and the DPI it was kept at (0 for one kept by a
// version that did not say). False when none is kept (or what is kept is
// not a placement).
bool WindowPlace(WINDOWPLACEMENT* place, UINT* dpi);
void SetWindowPlace(const WINDOWPLACEMENT& place, UINT dpi);

// The folder-menu entry: whether it is there, adding it (caption: what the
// menu shows; it starts program, a full path, with the folder as its
// argument) and removing it. False, with
// the last error set, when the registry refused.
bool ExplorerEntryPresent();
bool AddExplorerEntry(const std::wstring& program, const std::wstring& caption);
bool RemoveExplorerEntry();
// The entry's caption in another language, when the entry is there; never
// makes one.
bool RecaptionExplorerEntry(const std::wstring& caption);

}  // namespace window::settings
