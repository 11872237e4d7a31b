// Value arrays: a signed 32-bit dimension count d, d dimension sizes, then
// the element slots in storage order. The block never has spare capacity:
// every append and every removal rewrites the header as one dimension and
// resizes the block to 8 + slot width x count bytes.
#include "runtime/values/value_array.h"

#include <cstring>

#include "runtime/host/runtime_application.h"
#include "runtime/host/runtime_error.h"
#include "runtime/values/text_value.h"
#include "runtime/values/value_memory.h"

namespace rt {

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(kTextSlotWidth == 4, "a text slot is one 32-bit address");
#endif

namespace {

constexpr int32_t kWord = 4;
// Header of a one-dimensional array: the count 1 and the one size.
constexpr int32_t kFlatHeader = 2 * kWord;

int32_t ReadWord(const void* block, int32_t index) {
  int32_t word;
  std::memcpy(&word, static_cast<const char*>(block) + index * kWord, sizeof word);
  return word;
}

void WriteWord(void* block, int32_t index, int32_t word) {
  std::memcpy(static_cast<char*>(block) + index * kWord, &word, sizeof word);
}

char* SlotAt(void* first, int32_t index) {
  return static_cast<char*>(first) + static_cast<intptr_t>(index) * kTextSlotWidth;
}

int32_t FlatSize(int32_t count) { return kFlatHeader + count * kTextSlotWidth; }

// Moves the slots of a many-dimension array down to follow a two-word header.
// Only a block with more than one dimension needs it; the move stays inside
// the old block.
void FlattenSlots(void* array, const ArraySlots& slots) {
  if (slots.count <= 0) return;
  char* flat = static_cast<char*>(array) + kFlatHeader;
  if (slots.first != flat) {
    std::memmove(flat, slots.first, static_cast<size_t>(slots.count) * kTextSlotWidth);
  }
}

// The runtime's own empty array, for a program without constant data.
constexpr int32_t kOwnEmptyArray[2] = {1, 0};

}  // namespace

ArraySlots ArrayFirstSlot(const void* a) {
  if (a == nullptr) return {0, nullptr};
  const int32_t d = ReadWord(a, 0);
  void* first = const_cast<char*>(static_cast<const char*>(a)) + kWord;
  if (d <= 0) return {0, first};
  // The product wraps as a 32-bit multiplication would.
  uint32_t count = 1;
  for (int32_t i = 1; i <= d; ++i) count *= static_cast<uint32_t>(ReadWord(a, i));
  return {static_cast<int32_t>(count), static_cast<char*>(first) + d * kWord};
}

int32_t ArrayCount(const void* a) { return ArrayFirstSlot(a).count; }

void ArrayMakePrivate(int32_t w, void** variable) {
  void* array = *variable;
  if (FindStaticRange(array) == nullptr) return;
  // A static array is copied block and all; its slots keep the same values,
  // which for a text array are static texts that are never released.
  const int32_t d = ReadWord(array, 0);
  const int32_t header = kWord + (d > 0 ? d * kWord : 0);
  const int32_t size = header + w * ArrayCount(array);
  void* q = AllocateBlock(size);
  std::memcpy(q, array, static_cast<size_t>(size));
  *variable = q;
}

void ArrayAppend(void** variable, const char* v) {
  ArrayMakePrivate(kTextSlotWidth, variable);
  void* array = *variable;
  const ArraySlots slots = ArrayFirstSlot(array);
  const int32_t n = slots.count;
  FlattenSlots(array, slots);
  array = ResizeBlock(array, FlatSize(n + 1));
  *variable = array;
  WriteWord(array, 0, 1);
  WriteWord(array, 1, n + 1);
  // The slot holds null until its copy exists, so the array stays whole
  // whatever the copy's allocation does.
  char* slot = SlotAt(static_cast<char*>(array) + kFlatHeader, n);
  StoreTextSlot(slot, nullptr);
  StoreTextSlot(slot, TextCopy(v));
}

int32_t ArrayRemove(void** variable, int32_t p, int32_t k) {
  ArrayMakePrivate(kTextSlotWidth, variable);
  if (p < 0) return 0;
  void* array = *variable;
  const ArraySlots slots = ArrayFirstSlot(array);
  const int32_t n = slots.count;
  if (n - p <= 0) return 0;
  if (k > n - p) k = n - p;
  if (k <= 0) return 0;

  WriteWord(array, 0, 1);
  WriteWord(array, 1, n - k);
  FlattenSlots(array, slots);
  char* first = static_cast<char*>(array) + kFlatHeader;
  for (int32_t i = p; i < p + k; ++i) ReleaseBlock(LoadTextSlot(SlotAt(first, i)));
  const int32_t after = n - p - k;
  if (after > 0) {
    std::memmove(SlotAt(first, p), SlotAt(first, p + k),
                 static_cast<size_t>(after) * kTextSlotWidth);
  }
  *variable = ResizeBlock(array, FlatSize(n - k));
  return k;
}

void* ArrayElementAt(const void* a, int32_t p) {
  const ArraySlots slots = ArrayFirstSlot(a);
  if (p < 0) RaiseRuntimeError(4);
  if (p >= slots.count) RaiseRuntimeError(1);
  return SlotAt(slots.first, p);
}

void ArrayRelease(void* a) {
  const ArraySlots slots = ArrayFirstSlot(a);
  for (int32_t i = 0; i < slots.count; ++i) ReleaseBlock(LoadTextSlot(SlotAt(slots.first, i)));
  ReleaseBlock(a);
}

char* LoadTextSlot(const void* slot) {
  char* text;
  std::memcpy(&text, slot, sizeof text);
  return text;
}

void StoreTextSlot(void* slot, char* text) { std::memcpy(slot, &text, sizeof text); }

const void* EmptyArrayConstant() {
  const ProgramDescription* description = App().program.description;
  if (description != nullptr && description->constantData != nullptr &&
      description->constantLength >= 8) {
    return static_cast<const char*>(description->constantData) + description->constantLength - 8;
  }
  return kOwnEmptyArray;
}

}  // namespace rt
