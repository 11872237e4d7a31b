// The window: a mod's folders in a tree, each with its manifest's state;
// beside it what needs the user's eye and the details of the folder
// selected; below, the log of a watch and the counts. Plain Win32 with the
// common controls, usable from the keyboard throughout.
#pragma once

#include <windows.h>

#include <string>

namespace window {

// Runs the window until it is closed. folder: the folder to open (the
// program's argument), or empty to reopen the last one. Returns the
// process's exit status.
int RunWindow(HINSTANCE instance, const std::wstring& folder, int show);

}  // namespace window
