// Text values: length, join, comparison and copy of NUL-terminated narrow
// byte strings. Null and "" are the same empty text everywhere. Nothing here
// decodes characters: bytes are counted and compared as unsigned values.
#include "runtime/values/text_value.h"

#include <cstring>

#include "runtime/host/runtime_error.h"
#include "runtime/values/value_memory.h"

namespace rt {

int32_t TextLength(const char* t) {
  return t == nullptr ? 0 : static_cast<int32_t>(std::strlen(t));
}

char* TextJoin(int32_t n, const char* const* parts) {
  // Each part's length is measured once and remembered for the copy; parts
  // beyond this many (no caller joins so many) are measured again instead.
  constexpr int32_t kRemembered = 32;
  int32_t lengths[kRemembered];
  int64_t total = 1;
  for (int32_t i = 0; i < n; ++i) {
    int32_t length = TextLength(parts[i]);
    if (i < kRemembered) lengths[i] = length;
    total += length;
  }
  // A block size is a signed 32-bit count; a longer join cannot be held.
  if (total > INT32_MAX) ReportAllocationFailure(INT32_MAX);

  char* r = static_cast<char*>(AllocateBlock(static_cast<int32_t>(total)));
  char* out = r;
  for (int32_t i = 0; i < n; ++i) {
    int32_t length = i < kRemembered ? lengths[i] : TextLength(parts[i]);
    if (length > 0) std::memcpy(out, parts[i], static_cast<size_t>(length));
    out += length;
  }
  *out = '\0';
  return r;
}

int32_t TextCompare(const char* a, const char* b) {
  if (a == nullptr) return (b == nullptr || *b == '\0') ? 0 : -1;
  if (b == nullptr) return *a == '\0' ? 0 : 1;
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  while (*x == *y && *x != 0) {
    ++x;
    ++y;
  }
  if (*x == *y) return 0;
  return *x < *y ? -1 : 1;
}

char* TextCopy(const char* t) {
  if (t == nullptr) return nullptr;
  const int32_t size = TextLength(t) + 1;
  char* r = static_cast<char*>(AllocateBlock(size));
  std::memcpy(r, t, static_cast<size_t>(size));
  return r;
}

}  // namespace rt
