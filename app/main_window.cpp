// Entry point of the window (modmanifest-window.exe), a GUI program of the
// Windows build. Its argument, if any, is the folder to open: a folder
// dropped onto the program's icon, or the one Explorer's folder menu names.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "window/win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::wstring folder;
  if (arguments != nullptr && count > 1) folder = arguments[1];
  // CommandLineToArgvW reads \" as a quote, so "C:\Mod\Data\" (what a batch
  // file's "%~dp0" gives) arrives as C:\Mod\Data". No path holds a quote:
  // one at the end stood for the closing backslash.
  if (folder.size() > 1 && folder.back() == L'"') folder.back() = L'\\';
  if (arguments != nullptr) ::LocalFree(arguments);
  return window::RunWindow(instance, folder, show);
}
