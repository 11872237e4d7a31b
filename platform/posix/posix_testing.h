// What a test of the POSIX back-end may replace: whether the program's
// allocation entry (posix_allocation.cpp) refuses a request, so that a test
// can fail each allocation in turn as an exhausted heap would.
#pragma once

#include <cstddef>

namespace os::posix {

// Asked before each allocation while installed; true refuses it (the
// new-handler runs as for a heap that has run out). Returns the one it
// replaces, which the test installs again when it is done.
using AllocationRefusal = bool (*)(size_t bytes);
AllocationRefusal ReplaceAllocationRefusal(AllocationRefusal refuse);

}  // namespace os::posix
