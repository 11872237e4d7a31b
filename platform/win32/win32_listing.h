// Listing a folder on Windows, for the per-folder listing (FindFirstFileExA)
// and the folder access's listing alike; and whether the Windows in hand is
// Wine, whose listing and handles tell links differently.
#pragma once

#include <windows.h>

namespace os::win32 {

// FindFirstFileExW. Windows before 7 knows neither the basic level nor the
// large fetch and refuses them (ERROR_INVALID_PARAMETER or
// ERROR_INVALID_LEVEL): the full listing without the large fetch is asked
// for then, which every version gives. Any other failure (a denied folder,
// say) stands as it is, with its last error.
HANDLE FindFirstEx(const wchar_t* pattern, FINDEX_INFO_LEVELS level, WIN32_FIND_DATAW* found,
                   FINDEX_SEARCH_OPS search, void* filter, DWORD flags);

// The first entry of pattern (UTF-16, in the system's form), as a listing of
// names and attributes needs it: the basic level, fetched in large batches
// where Windows can.
HANDLE FindFirstBasic(const wchar_t* pattern, WIN32_FIND_DATAW* found);

// Whether this runs under Wine (its ntdll exports wine_get_version). Wine
// shows a Unix symbolic link as a reparse point by its name, but follows it
// when opened with FILE_FLAG_OPEN_REPARSE_POINT, and the handle then shows
// no reparse point; and it tells a folder's rename differently.
bool UnderWine();

}  // namespace os::win32
