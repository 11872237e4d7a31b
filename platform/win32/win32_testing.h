// What a test of the Win32 back-end may replace: the system's
// FindFirstFileExW behind FindFirstFileExA, so that a test can act as a
// Windows version that refuses a listing level, and the allocation behind
// the back-end's own buffers, so that a test can refuse it.
#pragma once

#include <string>

#include "platform/platform.h"

namespace os::win32 {

// FindFirstFileExW with the seam's plain types; findData is a
// WIN32_FIND_DATAW.
using FindFirstFileExWCall = Handle (*)(const char16_t* pattern, int infoLevel, void* findData,
                                        int searchOp, void* searchFilter, Dword additionalFlags);

// Installs call in place of the system's function; returns the one it
// replaces, which the test installs again when it is done.
FindFirstFileExWCall ReplaceFindFirstFileExW(FindFirstFileExWCall call);

// Where the back-end's buffers get memory that their inline room cannot
// hold: the process heap unless a test installs another; null is a refusal.
using BufferAllocation = void* (*)(size_t bytes);
BufferAllocation ReplaceBufferAllocation(BufferAllocation allocate);

// The form in which the back-end hands path to the system (SystemPath);
// empty when it refuses the path.
std::u16string SystemPathOf(const char* path);

}  // namespace os::win32
