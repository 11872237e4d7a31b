#include "platform/win32/win32_text.h"

#include <cstring>
#include <cwchar>

#include "platform/utf8.h"
#include "platform/win32/win32_testing.h"

namespace os::win32 {
namespace {

// Paths from this length on get the \\?\ form. Files may take up to 259
// units in the classic form, but a folder only 247, and a path is often a
// folder with a name still to come.
constexpr size_t kClassicLimit = MAX_PATH - 12;

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

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

bool SystemPath(const char* path, WideBuffer* out) {
  const size_t length = std::strlen(path);
  const size_t units = Utf8ToWide(path, length, nullptr, 0);
  if (units == kNotUtf8) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  if (units >= kLongestPath) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  wchar_t* wide = out->Reserve(units + 1);
  Utf8ToWide(path, length, wide, units);
  wide[units] = L'\0';
  if (units < kClassicLimit || IsDevicePath(wide)) return true;

  // The system takes a \\?\ path as it stands, without resolving "." and
  // "..", relative parts or '/': the full path is made first.
  WideBuffer full;
  DWORD n = ::GetFullPathNameW(wide, static_cast<DWORD>(full.capacity()), full.data(), nullptr);
  if (n >= full.capacity()) {
    full.Reserve(n);
    n = ::GetFullPathNameW(wide, static_cast<DWORD>(full.capacity()), full.data(), nullptr);
  }
  // Without a full path the system gets the path as it came, and refuses it
  // with its own error if it must.
  if (n == 0 || n >= full.capacity()) return true;

  const wchar_t* f = full.data();
  const wchar_t* prefix;
  const wchar_t* rest;
  if (f[0] == L'\\' && f[1] == L'\\' && !IsDevicePath(f)) {
    prefix = L"\\\\?\\UNC\\";  // \\server\share\... as \\?\UNC\server\share\...
    rest = f + 2;
  } else if (IsDriveLetter(f[0]) && f[1] == L':' && f[2] == L'\\') {
    prefix = L"\\\\?\\";
    rest = f;
  } else {
    std::memcpy(out->Reserve(n + 1), f, (n + 1) * sizeof(wchar_t));
    return true;
  }
  const size_t prefixLength = std::wcslen(prefix);
  const size_t restLength = n - static_cast<size_t>(rest - f);
  if (prefixLength + restLength >= kLongestPath) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  wide = out->Reserve(prefixLength + restLength + 1);
  std::memcpy(wide, prefix, prefixLength * sizeof(wchar_t));
  std::memcpy(wide + prefixLength, rest, (restLength + 1) * sizeof(wchar_t));
  return true;
}

}  // namespace os::win32
