// Which names a manifest can carry. A manifest is XML 1.0 in UTF-8, so a name
// must be valid UTF-8 made of XML characters; tab, line feed and carriage
// return are carried too (as character references, or a parser would turn
// them into spaces). DEL and the C1 controls are XML characters but control
// characters all the same: a manifest may carry those names exactly or leave
// them out. On POSIX a name holding '\' is always left out: the asset
// pipeline would read it as a path into another folder.
#pragma once

#include <cstdint>
#include <string>

namespace reliability {

enum class NameClass {
  kCarried,   // must be listed, exactly
  kOptional,  // may be listed (then exactly) or left out
  kLeftOut,   // must not be listed
};

inline NameClass Worse(NameClass a, NameClass b) { return a > b ? a : b; }

// Classifies bytes as a manifest entry would hold them. With backslashIsPath
// set (a POSIX name), a '\' makes the name one to leave out.
inline NameClass ClassifyName(const std::string& bytes, bool backslashIsPath) {
  NameClass c = NameClass::kCarried;
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  for (size_t i = 0; i < n;) {
    uint32_t cp = s[i];
    size_t len = 1;
    uint32_t min = 0;
    if (cp >= 0xF0 && cp <= 0xF4) {
      len = 4, cp &= 0x07, min = 0x10000;
    } else if (cp >= 0xE0 && cp <= 0xEF) {
      len = 3, cp &= 0x0F, min = 0x800;
    } else if (cp >= 0xC2 && cp <= 0xDF) {
      len = 2, cp &= 0x1F, min = 0x80;
    } else if (cp >= 0x80) {
      return NameClass::kLeftOut;  // 80..BF, C0, C1 and F5..FF cannot begin a character
    }
    if (i + len > n) return NameClass::kLeftOut;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return NameClass::kLeftOut;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return NameClass::kLeftOut;
    i += len;
    if (cp == '\t' || cp == '\n' || cp == '\r') {
      continue;
    } else if (cp >= 0x7F && cp <= 0x9F) {
      c = Worse(c, NameClass::kOptional);
    } else if (cp < 0x20 || cp == 0xFFFE || cp == 0xFFFF) {
      return NameClass::kLeftOut;
    } else if (cp == '\\' && backslashIsPath) {
      return NameClass::kLeftOut;
    }
  }
  return c;
}

}  // namespace reliability
