// What the window and the programs that drive it (its test driver) agree on:
// the window class, the command identifiers of its menus and buttons, and
// the identifiers of its controls.
#pragma once

namespace window::ids {

inline constexpr wchar_t kWindowClass[] = L"ModmanifestWindow";

// Commands (menus, buttons, accelerators).
enum Command : unsigned {
  kOpenFolder = 100,
  kUpdate = 101,
  kKeepCurrent = 102,
  kExit = 103,
  kExplorerAdd = 110,
  kExplorerRemove = 111,
  kAbout = 120,
};

// Controls, in tab order.
enum Control : unsigned {
  kOpenButton = 200,
  kUpdateButton = 201,
  kKeepCurrentBox = 202,
  kTree = 210,
  kAttentionList = 211,
  kDetails = 212,
  kLog = 213,
  kStatusBar = 220,
};

// WM_COPYDATA from a second start: dwData tells what the data holds.
inline constexpr unsigned long kShowsFolder = 0x4D4D5746;  // UTF-16 full path: "is this yours?"

}  // namespace window::ids
