// One window a folder: a second start on a folder that a window already
// shows brings that window to front instead of opening another. Starts tell
// a folder by its key, and ask each window of this program over WM_COPYDATA.
#pragma once

#include <windows.h>

#include <string>

namespace window {

// A folder the user named, as the engine takes it: its full path, checked to
// be a folder. False with *problem set otherwise.
bool ResolveFolder(const std::wstring& given, std::wstring* full, std::string* problem);

// How two starts tell that they are on the same folder: its full path in
// upper case.
std::wstring FolderKey(const std::wstring& fullPath);

// Whether a window of this program already shows the folder (a full path);
// brought to front if so.
bool BroughtToFront(const std::wstring& fullPath);

// The answer of the window showing the folder of shownKey (empty: none) to
// another start's question (WM_COPYDATA's lParam): TRUE, the window
// restored, when the question names that folder.
LRESULT AnswerShowsFolder(HWND hwnd, const std::wstring& shownKey, LPARAM question);

}  // namespace window
