// The boxes the window opens over itself (the folder picker, the messages),
// the folder dropped on it, and the texts of the resource script that they
// and the window show.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace window {

// A string of the resource script (resource.h's IDS_).
std::wstring Text(unsigned id);
// A string of the resource script with its numbered arguments (%1, %2, ...)
// put in.
std::wstring Format(unsigned id, std::initializer_list<std::wstring> arguments);

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
