// The boxes the window opens over itself (the folder picker, the messages)
// and the folder dropped on it.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "window/win32/texts.h"

namespace window {

// The folder the user picks, starting at current (when not empty); empty
// when the user picks none.
std::wstring PickFolder(HWND owner, const std::wstring& current);

// The first of the files or folders dropped on the window.
std::wstring DroppedFolder(HDROP drop);

// A problem said in a box the user closes.
void Warn(HWND owner, const std::wstring& text);
void ShowAbout(HWND owner);

// What Windows says of its last error, for a box.
std::wstring LastErrorText();

}  // namespace window
