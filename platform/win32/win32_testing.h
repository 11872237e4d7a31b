// What a test of the Win32 back-end may replace: the system's
// FindFirstFileExW behind FindFirstFileExA, so that a test can act as a
// Windows version that refuses a listing level.
#pragma once

#include "platform/platform.h"

namespace os::win32 {

// FindFirstFileExW with the seam's plain types; findData is a
// WIN32_FIND_DATAW.
using FindFirstFileExWCall = Handle (*)(const char16_t* pattern, int infoLevel, void* findData,
                                        int searchOp, void* searchFilter, Dword additionalFlags);

// Installs call in place of the system's function; returns the one it
// replaces, which the test installs again when it is done.
FindFirstFileExWCall ReplaceFindFirstFileExW(FindFirstFileExWCall call);

}  // namespace os::win32
