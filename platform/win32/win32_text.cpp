#include "platform/win32/win32_text.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>

#include "platform/utf8.h"
#include "platform/win32/win32_testing.h"

namespace os {
namespace {

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

size_t Utf8ToWide(const char* text, size_t length, wchar_t* out, size_t capacity) {
  const auto* s = reinterpret_cast<const uint8_t*>(text);
  size_t units = 0;
  // Measured first, so that nothing is written unless all of it fits.
  for (int pass = 0; pass < 2; ++pass) {
    units = 0;
    for (size_t i = 0; i < length;) {
      // Encoded surrogates pass: a name's unpaired surrogate comes back in
      // that form from a listing.
      const Utf8Sequence seq = ReadUtf8(s + i, length - i, true);
      if (seq.length == 0) return kNotUtf8;
      const uint32_t c = seq.codePoint;
      i += seq.length;
      if (pass == 1) {
        if (c >= 0x10000) {
          out[units] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
          out[units + 1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
          out[units] = static_cast<wchar_t>(c);
        }
      }
      units += c >= 0x10000 ? 2 : 1;
    }
    if (out == nullptr || units > capacity) break;
  }
  return units;
}

size_t WideToUtf8(const wchar_t* wide, size_t length, char* out, size_t capacity,
                  size_t* written) {
  size_t bytes = 0;
  bool full = false;
  size_t kept = 0;
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = static_cast<uint16_t>(wide[i]);
    if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(static_cast<uint16_t>(wide[i + 1]))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(wide[i + 1]) - 0xDC00u);
      ++i;
    }
    char encoded[4];
    size_t n;
    if (c < 0x80) {
      encoded[0] = static_cast<char>(c);
      n = 1;
    } else if (c < 0x800) {
      encoded[0] = static_cast<char>(0xC0 | (c >> 6));
      encoded[1] = static_cast<char>(0x80 | (c & 0x3F));
      n = 2;
    } else if (c < 0x10000) {  // an unpaired surrogate too
      encoded[0] = static_cast<char>(0xE0 | (c >> 12));
      encoded[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      encoded[2] = static_cast<char>(0x80 | (c & 0x3F));
      n = 3;
    } else {
      encoded[0] = static_cast<char>(0xF0 | (c >> 18));
      encoded[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      encoded[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      encoded[3] = static_cast<char>(0x80 | (c & 0x3F));
      n = 4;
    }
    if (!full && out != nullptr && bytes + n <= capacity) {
      std::memcpy(out + bytes, encoded, n);
      kept = bytes + n;
    } else {
      full = true;
    }
    bytes += n;
  }
  if (written != nullptr) *written = kept;
  return bytes;
}

std::string Utf8(const wchar_t* wide, size_t length) {
  std::string text(WideToUtf8(wide, length, nullptr, 0), '\0');
  WideToUtf8(wide, length, text.data(), text.size());
  return text;
}

std::wstring Wide(std::string_view text) {
  const size_t units = Utf8ToWide(text.data(), text.size(), nullptr, 0);
  if (units == kNotUtf8) return std::wstring();
  std::wstring wide(units, L'\0');
  Utf8ToWide(text.data(), text.size(), wide.data(), units);
  return wide;
}

}  // namespace os

namespace os::win32 {
namespace {

// \\?\ and \\.\ paths go to the system as they stand already.
bool IsDevicePath(const wchar_t* path) {
  return path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') &&
         path[3] == L'\\';
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

void* HeapBuffer(size_t bytes) { return ::HeapAlloc(::GetProcessHeap(), 0, bytes); }
BufferAllocation g_allocateBuffer = HeapBuffer;

}  // namespace

void* AllocateBuffer(size_t bytes) { return g_allocateBuffer(bytes); }

BufferAllocation ReplaceBufferAllocation(BufferAllocation allocate) {
  BufferAllocation previous = g_allocateBuffer;
  g_allocateBuffer = allocate;
  return previous;
}

namespace {

// The UTF-16 form of a UTF-8 text, terminated, in out, and its length in
// *units. False, with the last error set, when text is not UTF-8 or takes
// limit units or more.
bool ToWide(const char* text, size_t limit, WideBuffer* out, size_t* units) {
  const size_t length = std::strlen(text);
  *units = Utf8ToWide(text, length, nullptr, 0);
  if (*units == kNotUtf8) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  if (*units >= limit) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  wchar_t* wide = out->Reserve(*units + 1);
  Utf8ToWide(text, length, wide, *units);
  wide[*units] = L'\0';
  return true;
}

}  // namespace

bool WideText(const char* text, WideBuffer* out) {
  size_t units = 0;
  return ToWide(text, SIZE_MAX, out, &units);
}

namespace {

// The absolute form of the path wide (with '\' separators, not a device
// path), as the system would resolve it, but by this code: the system's own
// resolution also strips a trailing dot or space from the last name, and the
// \\?\ form that follows takes every name as it stands. A relative path starts
// where the system says its anchor is (the current folder, the current
// drive's root, a drive's current folder). False, with the last error set,
// when the anchor cannot be had.
bool AbsolutePath(const wchar_t* wide, std::wstring* absolute) {
  absolute->clear();
  const wchar_t* rest = wide;
  if (!(IsDriveLetter(wide[0]) && wide[1] == L':' && wide[2] == L'\\') &&
      !(wide[0] == L'\\' && wide[1] == L'\\')) {
    wchar_t anchor[4] = L".";
    if (wide[0] == L'\\') {
      anchor[0] = L'\\';
    } else if (IsDriveLetter(wide[0]) && wide[1] == L':') {
      anchor[0] = wide[0];
      anchor[1] = L':';
      anchor[2] = L'\0';
      rest = wide + 2;
    }
    WideBuffer base;
    DWORD n = ::GetFullPathNameW(anchor, static_cast<DWORD>(base.capacity()), base.data(), nullptr);
    if (n >= base.capacity()) {
      base.Reserve(n);
      n = ::GetFullPathNameW(anchor, static_cast<DWORD>(base.capacity()), base.data(), nullptr);
    }
    if (n == 0 || n >= base.capacity()) return false;  // the last error is set
    absolute->assign(base.data(), n);
    // A current folder set in its \\?\ form comes back in it.
    if (absolute->starts_with(L"\\\\?\\UNC\\")) {
      absolute->replace(0, 8, L"\\\\");
    } else if (absolute->starts_with(L"\\\\?\\")) {
      absolute->erase(0, 4);
    }
    absolute->push_back(L'\\');
  }
  absolute->append(rest);
  return true;
}

// The \\?\ form of an absolute path: the root ("X:\" or "\\server\share"),
// then each name; "." and empty names dropped, ".." taking the name before
// it (never the root).
std::wstring DeviceForm(const std::wstring& absolute) {
  std::wstring result;
  size_t at;
  if (absolute[0] == L'\\') {
    const size_t server = absolute.find(L'\\', 2);
    const size_t share = server == std::wstring::npos ? server : absolute.find(L'\\', server + 1);
    at = share == std::wstring::npos ? absolute.size() : share;
    result = L"\\\\?\\UNC\\" + absolute.substr(2, at - 2);
  } else {
    at = 2;
    result = L"\\\\?\\" + absolute.substr(0, 2);
  }
  const size_t rootLength = result.size();
  while (at < absolute.size()) {
    size_t end = absolute.find(L'\\', at + 1);
    if (end == std::wstring::npos) end = absolute.size();
    const std::wstring_view name(absolute.data() + at + 1, end > at ? end - at - 1 : 0);
    if (name == L"..") {
      const size_t cut = result.rfind(L'\\');
      if (cut >= rootLength) result.resize(cut);
    } else if (!name.empty() && name != L".") {
      result.push_back(L'\\');
      result.append(name);
    }
    at = end;
  }
  // A drive's root keeps its separator: \\?\X: alone names the volume.
  if (result.size() == rootLength || (!absolute.empty() && absolute.back() == L'\\')) {
    result.push_back(L'\\');
  }
  return result;
}

}  // namespace

bool SystemPath(const char* path, WideBuffer* out) {
  WideBuffer given;
  size_t units = 0;
  if (!ToWide(path, kLongestPath, &given, &units)) return false;
  wchar_t* wide = given.data();
  if (units == 0 || IsDevicePath(wide)) {
    std::memcpy(out->Reserve(units + 1), wide, (units + 1) * sizeof(wchar_t));
    return true;
  }
  for (size_t i = 0; i < units; ++i) {
    if (wide[i] == L'/') wide[i] = L'\\';  // no name holds '/'
  }
  std::wstring absolute;
  if (!AbsolutePath(wide, &absolute)) return false;
  const std::wstring result = DeviceForm(absolute);
  if (result.size() >= kLongestPath) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::memcpy(out->Reserve(result.size() + 1), result.c_str(), (result.size() + 1) * sizeof(wchar_t));
  return true;
}

std::u16string SystemPathOf(const char* path) {
  WideBuffer wide;
  if (!SystemPath(path, &wide)) return std::u16string();
  return std::u16string(reinterpret_cast<const char16_t*>(wide.data()));
}

}  // namespace os::win32
