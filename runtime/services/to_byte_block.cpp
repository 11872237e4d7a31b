// ToByteBlock(value): the bytes of a value as a new ByteBlock (the marker 1,
// the byte count, the bytes), or null when there are no bytes or the value's
// kind has no defined bytes. A ByteBlock argument is copied, never shared.
#include <cstring>

#include "runtime/services/command.h"
#include "runtime/services/libraries.h"
#include "runtime/values/value_memory.h"

namespace rt {

namespace {

// Tag classes: the top two bits with the array bit cleared.
constexpr uint32_t kClassMask = 0xC0000000u;
constexpr uint32_t kBasicClass = 0x80000000u;

bool IsBasic(uint32_t base) { return (base & kClassMask) == kBasicClass; }
bool IsNumeric(uint32_t base) { return IsBasic(base) && (base & 0xFFu) == 0x01u; }

// The size of one element of a numeric kind; 0 for a numeric tag this
// runtime does not know.
int32_t NumericSize(uint32_t base) {
  switch (base) {
    case kTagUInt8: return 1;
    case kTagInt16: return 2;
    case kTagInt32: return 4;
    case kTagInt64: return 8;
    case kTagFloat: return 4;
    case kTagDouble: return 8;
    default: return 0;
  }
}

// How many bytes of the record a single basic value gives, taken from the
// value word and then the high word; -1 for a kind without defined bytes.
int32_t BasicValueSize(uint32_t base) {
  switch (base) {
    case kTagUInt8: return 1;
    case kTagInt16: return 2;
    case kTagInt32:
    case kTagFloat:
    case kTagBasic4:
    case kTagBasic4b: return 4;
    case kTagInt64:
    case kTagDouble:
    case kTagBasic8:
    case kTagBasic8b: return 8;
    default: return -1;
  }
}

int32_t ReadWord(const void* p) {
  int32_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The new ByteBlock for length bytes at bytes; null when there are none.
uintptr_t MakeByteBlock(const void* bytes, int64_t length) {
  if (length <= 0) return 0;
  if (length > INT32_MAX - 8) return 0;
  const int32_t n = static_cast<int32_t>(length);
  char* block = CommandResultBlock(n + 8);
  const int32_t header[2] = {1, n};
  std::memcpy(block, header, sizeof header);
  std::memcpy(block + 8, bytes, static_cast<size_t>(n));
  return reinterpret_cast<uintptr_t>(block);
}

uintptr_t NumericArrayBytes(uint32_t base, const void* array) {
  if (array == nullptr) return 0;
  // Only a one-dimensional array has its elements right after the one size
  // word; the bytes of any other shape are not defined, so it gives nothing.
  if (ReadWord(array) != 1) return 0;
  const int32_t count = ReadWord(static_cast<const char*>(array) + 4);
  return MakeByteBlock(static_cast<const char*>(array) + 8,
                       static_cast<int64_t>(count) * NumericSize(base));
}

uintptr_t SingleValueBytes(uint32_t base, const ArgRecord& arg) {
  if (base == kTagText) {
    const char* text = reinterpret_cast<const char*>(arg.value);
    return text == nullptr ? 0 : MakeByteBlock(text, static_cast<int64_t>(std::strlen(text)));
  }
  if (base == kTagByteBlock) {
    const char* block = reinterpret_cast<const char*>(arg.value);
    return block == nullptr ? 0 : MakeByteBlock(block + 8, ReadWord(block + 4));
  }
  const int32_t size = BasicValueSize(base);
  if (size < 0) return 0;
  // The value word and then the high word, little-endian as they lie in the
  // 32-bit record.
  const uint32_t words[2] = {static_cast<uint32_t>(arg.value), arg.high};
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(words[i / 4] >> (8 * (i % 4)));
  return MakeByteBlock(bytes, size);
}

}  // namespace

void ToByteBlock(ArgRecord* result, int32_t count, const ArgRecord* args) {
  if (count < 1) return;
  const ArgRecord& arg = args[0];
  const uint32_t base = arg.tag & ~kTagArrayBit;
  const bool array = (arg.tag & kTagArrayBit) != 0;
  if (array) {
    if (IsNumeric(base)) {
      result->value = NumericArrayBytes(base, reinterpret_cast<const void*>(arg.value));
    }
    return;
  }
  if (!IsBasic(base)) return;
  result->value = SingleValueBytes(base, arg);
}

}  // namespace rt
