// Code pages of the POSIX back-end. The ANSI code page is UTF-8 (65001): names
// are the bytes the file system stores. GBK (936) is supported too, because
// the runtime's own message texts are GBK. Its tables are built into the
// program, generated from the build machine's C library converter: no
// converter is needed at run time, and they are there with the heap exhausted.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/posix/posix_internal.h"
#include "platform/utf8.h"

namespace os::posix {
namespace {

constexpr Dword kCodePageOem = 1;
constexpr Dword kCodePageThreadAnsi = 3;
constexpr Dword kWcErrInvalidChars = 0x80;
constexpr char16_t kReplacement = 0xFFFD;

// CP_ACP, CP_OEMCP and CP_THREAD_ACP all mean UTF-8 here.
Dword Resolve(Dword codePage) {
  if (codePage == kCodePageAnsi || codePage == kCodePageOem || codePage == kCodePageThreadAnsi) {
    return kCodePageUtf8;
  }
  return codePage;
}

bool IsGbkLead(uint8_t b) { return b >= 0x81 && b <= 0xFE; }
bool IsGbkTrail(uint8_t b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// The double-byte part of code page 936 in both directions: kGbkToWide,
// kGbkFromWidePage and kGbkFromWide (see platform/posix/tools/gen_cp936_table.cpp).
#include "posix_cp936_table.inc"

// The UTF-16 unit of a double-byte pair; 0 where the pair is unmapped.
char16_t GbkPairToWide(uint8_t lead, uint8_t trail) {
  return kGbkToWide[(lead - 0x81) * 191 + (trail - 0x40)];
}

// The GBK form of a UTF-16 unit: one byte in the low 8 bits, two as
// lead << 8 | trail; 0 where the unit has none.
uint16_t GbkFromWide(char16_t c) { return kGbkFromWide[kGbkFromWidePage[c >> 8]][c & 0xFF]; }

// Decodes UTF-8 into UTF-16. Invalid input (stray or missing continuation
// bytes, overlong forms, surrogates, values above U+10FFFF) becomes one U+FFFD
// per maximal invalid part, or fails the call when strict.
bool DecodeUtf8(const uint8_t* s, size_t n, bool strict, std::u16string& out) {
  size_t i = 0;
  while (i < n) {
    uint8_t b = s[i];
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    const Utf8Sequence seq = ReadUtf8(s + i, n - i);
    if (seq.length == 0) {
      if (strict) return false;
      out += kReplacement;
      i += seq.span;  // the byte that broke the sequence starts the next one
      continue;
    }
    uint32_t c = seq.codePoint;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += seq.length;
  }
  return true;
}

bool DecodeGbk(const uint8_t* s, size_t n, bool strict, std::u16string& out) {
  for (size_t i = 0; i < n;) {
    uint8_t b = s[i];
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
    } else if (b == 0x80) {
      out += static_cast<char16_t>(0x20AC);
      ++i;
    } else if (IsGbkLead(b) && i + 1 < n && IsGbkTrail(s[i + 1]) &&
               GbkPairToWide(b, s[i + 1]) != 0) {
      out += GbkPairToWide(b, s[i + 1]);
      i += 2;
    } else {
      if (strict) return false;
      out += kReplacement;
      // A lead byte takes its partner with it unless that is plain ASCII.
      i += (IsGbkLead(b) && i + 1 < n && s[i + 1] >= 0x40) ? 2 : 1;
    }
  }
  return true;
}

void AppendUtf8(uint32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool EncodeUtf8(const char16_t* w, size_t n, bool strict, std::string& out) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = w[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (w[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (strict) return false;
      c = kReplacement;  // a lone surrogate has no UTF-8 form
    }
    AppendUtf8(c, out);
  }
  return true;
}

void EncodeGbk(const char16_t* w, size_t n, char defaultChar, bool& usedDefault,
               std::string& out) {
  for (size_t i = 0; i < n; ++i) {
    char16_t c = w[i];
    uint16_t g = GbkFromWide(c);
    if (c != 0 && g == 0) {
      out += defaultChar;
      usedDefault = true;
      // A surrogate pair is one character and gets one default character.
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
        ++i;
      }
    } else if (g > 0xFF) {
      out += static_cast<char>(g >> 8);
      out += static_cast<char>(g & 0xFF);
    } else {
      out += static_cast<char>(g);
    }
  }
}

}  // namespace

Dword GetACP() { return kCodePageUtf8; }

Bool IsDBCSLeadByteEx(Dword codePage, uint8_t byte) {
  switch (Resolve(codePage)) {
    case 932: return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950: return byte >= 0x81 && byte <= 0xFE;
    default: return 0;
  }
}

int MultiByteToWideChar(Dword codePage, Dword flags, const char* text, int length,
                        char16_t* wide, int wideLength) {
  codePage = Resolve(codePage);
  if (text == nullptr || length == 0 || length < -1 || wideLength < 0 ||
      (wide == nullptr && wideLength != 0)) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  if (codePage == kCodePageUtf8 && (flags & ~kMbErrInvalidChars) != 0) {
    SetLastError(kErrorInvalidFlags);
    return 0;
  }
  // length -1: the text is NUL-terminated and the terminator is converted too.
  size_t n = length < 0 ? std::strlen(text) + 1 : static_cast<size_t>(length);
  const auto* s = reinterpret_cast<const uint8_t*>(text);
  bool strict = (flags & kMbErrInvalidChars) != 0;
  std::u16string out;
  bool ok;
  if (codePage == kCodePageUtf8) {
    ok = DecodeUtf8(s, n, strict, out);
  } else if (codePage == kCodePageGbk) {
    ok = DecodeGbk(s, n, strict, out);
  } else {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  if (!ok) {
    SetLastError(kErrorNoUnicodeTranslation);
    return 0;
  }
  if (wideLength == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(wideLength)) {
    SetLastError(kErrorInsufficientBuffer);
    return 0;
  }
  std::memcpy(wide, out.data(), out.size() * sizeof(char16_t));
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(Dword codePage, Dword flags, const char16_t* wide, int wideLength,
                        char* text, int length, const char* defaultChar, Bool* usedDefault) {
  codePage = Resolve(codePage);
  if (wide == nullptr || wideLength == 0 || wideLength < -1 || length < 0 ||
      (text == nullptr && length != 0)) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  size_t n = wideLength < 0 ? std::char_traits<char16_t>::length(wide) + 1
                            : static_cast<size_t>(wideLength);
  std::string out;
  if (codePage == kCodePageUtf8) {
    // UTF-8 can carry every character: a default character makes no sense.
    if (defaultChar != nullptr || usedDefault != nullptr) {
      SetLastError(kErrorInvalidParameter);
      return 0;
    }
    if ((flags & ~kWcErrInvalidChars) != 0) {
      SetLastError(kErrorInvalidFlags);
      return 0;
    }
    if (!EncodeUtf8(wide, n, (flags & kWcErrInvalidChars) != 0, out)) {
      SetLastError(kErrorNoUnicodeTranslation);
      return 0;
    }
  } else if (codePage == kCodePageGbk) {
    bool used = false;
    EncodeGbk(wide, n, defaultChar != nullptr ? *defaultChar : '?', used, out);
    if (usedDefault != nullptr) *usedDefault = used ? 1 : 0;
  } else {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  if (length == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(length)) {
    SetLastError(kErrorInsufficientBuffer);
    return 0;
  }
  std::memcpy(text, out.data(), out.size());
  return static_cast<int>(out.size());
}

char16_t GbkUnitForDisplay(uint8_t lead, uint8_t trail) {
  if (!IsGbkLead(lead) || !IsGbkTrail(trail)) return 0;
  return GbkPairToWide(lead, trail);
}

}  // namespace os::posix
