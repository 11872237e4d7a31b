// UTF-8, read one sequence at a time. One reader serves every place that
// takes a name's bytes apart (the document, the listing order, both
// back-ends' conversions), so they agree on what is valid.
#pragma once

#include <cstddef>
#include <cstdint>

namespace os {

struct Utf8Sequence {
  uint32_t codePoint;
  // The sequence's length in bytes; 0 when the bytes there start no valid
  // sequence (a stray or missing continuation byte, an overlong form, a value
  // above U+10FFFF, an encoded surrogate unless allowed).
  size_t length;
  // How many bytes belong to the sequence, valid or not (at least 1): where
  // a reader that replaces each maximal invalid part goes on.
  size_t span;
};

// Reads the sequence at s, of which n > 0 bytes are available. The Win32
// back-end allows encoded surrogates: a name holding an unpaired one keeps
// it in that form, which no other reader accepts.
inline Utf8Sequence ReadUtf8(const uint8_t* s, size_t n, bool allowSurrogates = false) {
  const uint8_t b = s[0];
  if (b < 0x80) return {b, 1, 1};
  // The sequence's continuation bytes, and the range its first one must lie
  // in, which excludes overlong forms, surrogates and values past U+10FFFF.
  size_t need = 0;
  uint8_t low = 0x80, high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED && !allowSurrogates) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return {0, 0, 1};
  }
  uint32_t c = b & (0x7Fu >> (need + 1));
  for (size_t k = 1; k <= need; ++k) {
    if (k >= n || s[k] < (k == 1 ? low : 0x80) || s[k] > (k == 1 ? high : 0xBF)) return {0, 0, k};
    c = c << 6 | (s[k] & 0x3Fu);
  }
  return {c, need + 1, need + 1};
}

}  // namespace os
