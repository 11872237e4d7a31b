// Value memory: every runtime value that owns memory lives in a block from
// here. Blocks come from the RuntimeHeap at exactly the requested size; an
// address inside a registered static range is never released and never
// resized in place. AllocateBlock and ResizeBlock never return null: a heap
// refusal ends the process through ReportAllocationFailure.
#pragma once

#include <cstdint>

namespace rt {

void* AllocateBlock(int32_t size);
// The caller stores the result in place of the old address.
void* ResizeBlock(void* block, int32_t size);
void ReleaseBlock(void* block);
// The end of the first registered range that holds p, or null.
const void* FindStaticRange(const void* p);
// Start-up only. A length of 0 registers nothing.
void AddStaticRange(const void* start, uint32_t length);

}  // namespace rt
