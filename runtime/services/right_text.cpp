// RightText(text, n): a new text holding the last n bytes of text, or null
// when that is empty. The count is in bytes: a double-byte character may be
// cut so that the result starts with its second byte.
#include <cstring>

#include "runtime/services/command.h"
#include "runtime/services/libraries.h"
#include "runtime/values/value_memory.h"

namespace rt {


void RightText(ArgRecord* result, int32_t count, const ArgRecord* args) {
  if (count < 2) return;
  // Only the value word carries n; its high word and tag are not looked at.
  int32_t n = static_cast<int32_t>(static_cast<uint32_t>(args[1].value));
  if (n <= 0) return;
  const char* text = reinterpret_cast<const char*>(args[0].value);
  const int32_t length = text == nullptr ? 0 : static_cast<int32_t>(std::strlen(text));
  if (n > length) n = length;
  if (n == 0) return;
  char* r = CommandResultBlock(n + 1);
  std::memcpy(r, text + (length - n), static_cast<size_t>(n));
  r[n] = '\0';
  result->value = reinterpret_cast<uintptr_t>(r);
}

}  // namespace rt
