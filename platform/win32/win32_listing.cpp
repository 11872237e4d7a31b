#include "platform/win32/win32_listing.h"

#include "platform/win32/win32_testing.h"

namespace os::win32 {
namespace {

Handle SystemFindFirstFileExW(const char16_t* pattern, int infoLevel, void* findData,
                              int searchOp, void* searchFilter, Dword additionalFlags) {
  return ::FindFirstFileExW(reinterpret_cast<LPCWSTR>(pattern),
                            static_cast<FINDEX_INFO_LEVELS>(infoLevel), findData,
                            static_cast<FINDEX_SEARCH_OPS>(searchOp), searchFilter,
                            additionalFlags);
}
FindFirstFileExWCall g_findFirstFileExW = SystemFindFirstFileExW;

}  // namespace

FindFirstFileExWCall ReplaceFindFirstFileExW(FindFirstFileExWCall call) {
  const FindFirstFileExWCall previous = g_findFirstFileExW;
  g_findFirstFileExW = call;
  return previous;
}

HANDLE FindFirstEx(const wchar_t* pattern, FINDEX_INFO_LEVELS level, WIN32_FIND_DATAW* found,
                   FINDEX_SEARCH_OPS search, void* filter, DWORD flags) {
  const auto* widePattern = reinterpret_cast<const char16_t*>(pattern);
  HANDLE h = g_findFirstFileExW(widePattern, level, found, search, filter, flags);
  if (h == INVALID_HANDLE_VALUE &&
      (level == FindExInfoBasic || (flags & FIND_FIRST_EX_LARGE_FETCH) != 0)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_LEVEL) {
      h = g_findFirstFileExW(widePattern, FindExInfoStandard, found, search, filter,
                             flags & ~static_cast<DWORD>(FIND_FIRST_EX_LARGE_FETCH));
    }
  }
  return h;
}

HANDLE FindFirstBasic(const wchar_t* pattern, WIN32_FIND_DATAW* found) {
  return FindFirstEx(pattern, FindExInfoBasic, found, FindExSearchNameMatch, nullptr,
                     FIND_FIRST_EX_LARGE_FETCH);
}

bool UnderWine() {
  static const bool wine = [] {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

}  // namespace os::win32
