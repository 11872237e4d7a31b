// Text values: the address of a NUL-terminated narrow byte string, or null.
// Null and "" both mean the empty text. An owned text is a block of exactly
// length + 1 bytes; a text may also be a fixed text in the program's constant
// data, which nobody owns.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace rt {

using TextValue = char*;

int32_t TextLength(const char* t);
// One allocation, never null; null parts contribute nothing.
char* TextJoin(int32_t n, const char* const* parts);
inline char* TextJoin(std::initializer_list<const char*> parts) {
  return TextJoin(static_cast<int32_t>(parts.size()), parts.begin());
}
// -1, 0 or 1; unsigned bytes, case-sensitive; null equals "".
int32_t TextCompare(const char* a, const char* b);
// A new owned copy, or null for null.
char* TextCopy(const char* t);

}  // namespace rt
