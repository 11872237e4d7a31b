// Value memory: the runtime's one allocation entry and the static-range rule.
//
// Every block comes from the RuntimeHeap at exactly the requested size. A
// heap refusal never reaches the caller: ReportAllocationFailure shows the
// runtime-error box and ends the process, so AllocateBlock and ResizeBlock
// never return null. An address inside a static range (the program's
// constant data) belongs to nobody: it is never released and never resized
// in place.
#include "runtime/values/value_memory.h"

#include <cstring>

#include "platform/platform.h"
#include "runtime/host/runtime_application.h"
#include "runtime/host/runtime_error.h"
#include "runtime/values/value_array.h"

namespace rt {

namespace {

// Sizes are signed 32-bit counts. A negative one widens to a size no heap can
// grant, so it ends in the same refusal as on the 32-bit build.
size_t HeapSize(int32_t size) { return static_cast<size_t>(static_cast<intptr_t>(size)); }

}  // namespace

void* AllocateBlock(int32_t size) {
  void* p = os::Os().HeapAlloc(App().RuntimeHeap, 0, HeapSize(size));
  if (p == nullptr) ReportAllocationFailure(size);
  return p;
}

void* ResizeBlock(void* block, int32_t size) {
  if (block == nullptr) return AllocateBlock(size);
  if (const void* end = FindStaticRange(block)) {
    // A static block is copied, never changed: only the bytes up to the end of
    // its range belong to it.
    void* q = AllocateBlock(size);
    intptr_t available = static_cast<const char*>(end) - static_cast<const char*>(block);
    intptr_t count = available < size ? available : size;
    if (count > 0) std::memcpy(q, block, static_cast<size_t>(count));
    return q;
  }
  // A refused resize leaves the old block as it was; the process ends anyway.
  void* q = os::Os().HeapReAlloc(App().RuntimeHeap, 0, block, HeapSize(size));
  if (q == nullptr) ReportAllocationFailure(size);
  return q;
}

void ReleaseBlock(void* block) {
  if (block == nullptr || FindStaticRange(block) != nullptr) return;
  os::Os().HeapFree(App().RuntimeHeap, 0, block);
}

const void* FindStaticRange(const void* p) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(p);
  const std::vector<uintptr_t>& ranges = App().StaticRangeList;
  for (size_t i = 0; i + 1 < ranges.size(); i += 2) {
    if (ranges[i] <= address && address < ranges[i + 1]) {
      return reinterpret_cast<const void*>(ranges[i + 1]);
    }
  }
  // The empty-array constant is static even where it is the runtime's own
  // stand-in (for a program without constant data), which no range covers.
  const uintptr_t empty = reinterpret_cast<uintptr_t>(EmptyArrayConstant());
  if (empty <= address && address < empty + 8) return reinterpret_cast<const void*>(empty + 8);
  return nullptr;
}

void AddStaticRange(const void* start, uint32_t length) {
  if (length == 0) return;
  const uintptr_t first = reinterpret_cast<uintptr_t>(start);
  App().StaticRangeList.push_back(first);
  App().StaticRangeList.push_back(first + length);
}

}  // namespace rt
