// What the window's resource script, its code and the programs that drive it
// (its test driver) agree on: the resources' identifiers (a string's is the
// same in every language), the command identifiers of the menus, buttons
// and accelerators, the controls' identifiers, and the window class. The
// resource compiler reads the #defines alone.
#pragma once

// The icon, the menu bar and the accelerators.
#define IDR_MAIN 1

// Commands (menus, buttons, accelerators).
#define IDM_OPEN_FOLDER 100
#define IDM_UPDATE 101
#define IDM_KEEP_CURRENT 102
#define IDM_EXIT 103
#define IDM_CHECK_AGAIN 104
#define IDM_STOP 105
#define IDM_EXPLORER_ADD 110
#define IDM_EXPLORER_REMOVE 111
#define IDM_ABOUT 120
// View, Language: the user's UI language, or one chosen.
#define IDM_LANGUAGE_AUTO 140
#define IDM_LANGUAGE_ENGLISH 141
#define IDM_LANGUAGE_CHINESE 142
// The menu of a row of the tree or the list.
#define IDM_ROW_EXPLORE 130
#define IDM_ROW_OPEN_MANIFEST 131
#define IDM_ROW_COPY_PATH 132

// Controls, in tab order.
#define IDC_OPEN_BUTTON 200
#define IDC_UPDATE_BUTTON 201
#define IDC_KEEP_CURRENT_BOX 202
#define IDC_TREE 210
#define IDC_ATTENTION_LIST 211
#define IDC_DETAILS 212
#define IDC_LOG 213
#define IDC_STATUS_BAR 220

// Strings.
#define IDS_TITLE 300
#define IDS_ABOUT 301
#define IDS_OPEN_HINT 302
#define IDS_STOPPING 303
#define IDS_CLOSING 304
#define IDS_PICK_FOLDER 305
#define IDS_OPEN_BUTTON 306
#define IDS_UPDATE_BUTTON 307
#define IDS_KEEP_CURRENT_BOX 308
#define IDS_COLUMN_NAME 309
#define IDS_COLUMN_STATE 310
#define IDS_COLUMN_WHY 311
#define IDS_CANNOT_ADD_ENTRY 312
#define IDS_CANNOT_REMOVE_ENTRY 313
#define IDS_STOP_BUTTON 314
#define IDS_ROW_EXPLORE 315
#define IDS_ROW_OPEN_MANIFEST 316
#define IDS_ROW_COPY_PATH 317
#define IDS_CANNOT_OPEN 318
#define IDS_CANNOT_COPY 319
#define IDS_EXPLORER_ENTRY 320
#define IDS_CANNOT_FIND_FOLDER 321
#define IDS_DOES_NOT_EXIST 322
#define IDS_CANNOT_BE_OPENED 323
#define IDS_NOT_A_FOLDER 324
#define IDS_LINE_TIP 325
#define IDS_WINDOW_TITLE 326
// The model's (400 on).
#include "window/model/phrases.h"

#ifndef RC_INVOKED
namespace window::ids {

inline constexpr wchar_t kWindowClass[] = L"ModmanifestWindow";

// WM_COPYDATA from a second start: dwData tells what the data holds.
inline constexpr unsigned long kShowsFolder = 0x4D4D5746;  // UTF-16 full path: "is this yours?"

}  // namespace window::ids
#endif
