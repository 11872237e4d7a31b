#include "tree/outcome.h"

#include <new>

#include "platform/change_source.h"

namespace tree {

void StopToken::Request(StopReason reason) {
  reason_.store(reason);
  os::WakeChangeWait();
}

void UnwindOnOutOfMemory(size_t) { throw std::bad_alloc(); }

}  // namespace tree
