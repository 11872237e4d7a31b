#include "window/win32/settings.h"

namespace window::settings {
namespace {

constexpr wchar_t kLastFolder[] = L"LastFolder";
constexpr wchar_t kPlacement[] = L"WindowPlacement";
constexpr wchar_t kPlacementDpi[] = L"WindowPlacementDpi";
constexpr wchar_t kLanguage[] = L"Language";

// Sets a value of a key of the user's, made if need be.
bool SetValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  HKEY handle = nullptr;
  LONG error = ::RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                 &handle, nullptr);
  if (error == ERROR_SUCCESS) {
    error = ::RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), bytes);
    ::RegCloseKey(handle);
  }
  ::SetLastError(static_cast<DWORD>(error));
  return error == ERROR_SUCCESS;
}

bool SetText(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
  return SetValue(key, name, REG_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// A text value of the window's key; empty when there is none.
std::wstring ReadText(const wchar_t* name) {
  DWORD bytes = 0;
  if (::RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
      ERROR_SUCCESS) {
    return L"";
  }
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) !=
      ERROR_SUCCESS) {
    return L"";
  }
  text.resize(wcsnlen(text.c_str(), text.size()));
  return text;
}

}  // namespace

std::wstring LastFolder() { return ReadText(kLastFolder); }

void SetLastFolder(const std::wstring& folder) { SetText(kKey, kLastFolder, folder); }

std::wstring Language() { return ReadText(kLanguage); }

void SetLanguage(const std::wstring& language) {
  if (language.empty()) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, kLanguage);
  } else {
    SetText(kKey, kLanguage, language);
  }
}

bool WindowPlace(WINDOWPLACEMENT* place, UINT* dpi) {
  DWORD bytes = sizeof *place;
  if (::RegGetValueW(HKEY_CURRENT_USER, kKey, kPlacement, RRF_RT_REG_BINARY, nullptr, place, &bytes) !=
          ERROR_SUCCESS ||
      bytes != sizeof *place || place->length != sizeof *place) {
    return false;
  }
  DWORD saved = 0;
  bytes = sizeof saved;
  if (::RegGetValueW(HKEY_CURRENT_USER, kKey, kPlacementDpi, RRF_RT_REG_DWORD, nullptr, &saved, &bytes) !=
          ERROR_SUCCESS ||
      saved < 24 || saved > 24 * 96) {
    saved = 0;
  }
  *dpi = saved;
  return true;
}

void SetWindowPlace(const WINDOWPLACEMENT& place, UINT dpi) {
  const DWORD saved = dpi;
  if (SetValue(kKey, kPlacement, REG_BINARY, &place, sizeof place)) {
    SetValue(kKey, kPlacementDpi, REG_DWORD, &saved, sizeof saved);
  }
}

bool ExplorerEntryPresent() {
  HKEY handle = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kExplorerKey, 0, KEY_READ, &handle) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(handle);
  return true;
}

bool AddExplorerEntry(const std::wstring& program, const std::wstring& caption) {
  const std::wstring command = L"\"" + program + L"\" \"%1\"";
  const std::wstring commandKey = std::wstring(kExplorerKey) + L"\\command";
  if (SetText(kExplorerKey, nullptr, caption) &&
      SetText(kExplorerKey, L"Icon", L"\"" + program + L"\",0") &&
      SetText(commandKey.c_str(), nullptr, command)) {
    return true;
  }
  // Not half an entry: one that cannot start the window goes.
  const DWORD error = ::GetLastError();
  RemoveExplorerEntry();
  ::SetLastError(error);
  return false;
}

bool RecaptionExplorerEntry(const std::wstring& caption) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kExplorerKey, 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS) {
    return false;
  }
  const LONG error = ::RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(caption.c_str()),
                                      static_cast<DWORD>((caption.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(handle);
  return error == ERROR_SUCCESS;
}

bool RemoveExplorerEntry() {
  const LONG error = ::RegDeleteTreeW(HKEY_CURRENT_USER, kExplorerKey);
  ::SetLastError(static_cast<DWORD>(error));
  return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND;
}

}  // namespace window::settings
