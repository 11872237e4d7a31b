// The menu of a row of the tree or the list, on a right-click or the menu
// key (Shift+F10): the folder opened in Explorer, its manifest opened with
// the program Windows opens such files with, its full path copied.
#pragma once

#include <windows.h>

#include <string>

namespace window {

struct RowPaths {
  std::wstring folder;    // full path
  std::wstring manifest;  // full path of the manifest the folder gets
};

// Shows the menu at a point of the screen and does what the user picks;
// Open manifest is greyed while the manifest does not exist.
void ShowRowMenu(HWND owner, POINT at, const RowPaths& row);

// text on the clipboard as Unicode text; false, with the last error set,
// when the clipboard refused.
bool CopyToClipboard(HWND owner, const std::wstring& text);

}  // namespace window
