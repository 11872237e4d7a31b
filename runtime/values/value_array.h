// Value arrays: one block holding a signed 32-bit dimension count d, d signed
// 32-bit dimension sizes, then the element slots. A text array's slots are
// TextValues owned by the array. Every append or removal leaves the array
// one-dimensional and exactly 8 + slot width x count bytes long.
#pragma once

#include <cstdint>

namespace rt {

// The width of a text array's slot: one address.
constexpr int32_t kTextSlotWidth = static_cast<int32_t>(sizeof(char*));

struct ArraySlots {
  int32_t count;
  void* first;
};

ArraySlots ArrayFirstSlot(const void* a);
int32_t ArrayCount(const void* a);
void ArrayMakePrivate(int32_t w, void** variable);
void ArrayAppend(void** variable, const char* v);
int32_t ArrayRemove(void** variable, int32_t p, int32_t k);
// The address of slot p; raises code 4 for p < 0 and code 1 for p >= count.
void* ArrayElementAt(const void* a, int32_t p);
void ArrayRelease(void* a);

// Reads and writes a text slot. Slots after an odd number of dimension words
// are not aligned for an address on 64-bit builds, so they are copied bytewise.
char* LoadTextSlot(const void* slot);
void StoreTextSlot(void* slot, char* text);

// The empty-array constant {1, 0}, which is also the empty ByteBlock: the last
// 8 bytes of the program's constant data, or the runtime's own copy when the
// program carries fewer than 8 bytes. Never released, never changed.
const void* EmptyArrayConstant();

}  // namespace rt
