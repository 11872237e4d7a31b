// The runtime's numbered host requests, through which a support library's
// commands reach the host. The libraries get this entry's address from
// start-up and call only their stored copy of it.
#include "runtime/services/command.h"

#include "platform/platform.h"
#include "runtime/host/end_of_run.h"
#include "runtime/host/runtime_application.h"
#include "runtime/values/value_array.h"
#include "runtime/values/value_memory.h"

namespace rt {

namespace {

intptr_t Address(const void* p) { return reinterpret_cast<intptr_t>(p); }
void* Block(intptr_t word) { return reinterpret_cast<void*>(word); }

// Releases an array of the given kind; the elements of text and ByteBlock
// arrays are blocks the array owns, so they go first.
void ReleaseArrayOfKind(uint32_t tag, void* array) {
  const uint32_t base = tag & ~kTagArrayBit;
  if (base == kTagText || base == kTagByteBlock) {
    ArrayRelease(array);
  } else {
    ReleaseBlock(array);
  }
}

}  // namespace

intptr_t HostRequest(int32_t code, intptr_t a, intptr_t b) {
  switch (code) {
    case kRequestProgramDirectory:
      return Address(App().ProgramDirectory.c_str());
    case kRequestProgramFileName:
      return Address(App().ProgramFileName.c_str());
    case kRequestReleaseArray:
      ReleaseArrayOfKind(static_cast<uint32_t>(a), Block(b));
      return 0;
    case kRequestAllocate:
      // Mode 0 is the runtime's own allocation, which ends the process when
      // the heap refuses; any other mode hands a refusal back as null.
      if (b == 0) return Address(AllocateBlock(static_cast<int32_t>(a)));
      return Address(os::Os().HeapAlloc(App().RuntimeHeap, 0,
                                        static_cast<size_t>(static_cast<int32_t>(a))));
    case kRequestRelease:
      ReleaseBlock(Block(a));
      return 0;
    case kRequestResize:
      return Address(ResizeBlock(Block(a), static_cast<int32_t>(b)));
    case kRequestEndProgram:
      EndProgram(static_cast<int32_t>(a));
    case kRequestRunMode:
      return App().RunMode;
    default:
      // Every other code, defined or not, has nothing to do in this program.
      return 0;
  }
}

}  // namespace rt
