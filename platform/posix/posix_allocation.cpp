// The one place where memory of the program's own can run out on POSIX
// systems. Every operator new of the program (the back-end's buffers, names
// and handles, and everything else built with new) comes here; a block the
// heap refuses is recorded with the size asked for before the new-handler
// runs, so the allocation box shows that size without any caller having
// noted it. The new-handler (posix_process.cpp) ends the run, or unwinds
// while a mutex of the back-end is held.
//
// Blocks come from malloc and go back to free, so a sanitizer still sees
// every byte past a block's end and every block never given back.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/posix/posix_internal.h"
#include "platform/posix/posix_testing.h"

namespace os::posix {
namespace {

thread_local size_t t_refusedBytes = 0;
std::atomic<AllocationRefusal> g_refusal{nullptr};

// Memory from the heap, or the refusal handled as the language has it: the
// new-handler is called until it makes room, throws or ends the run; with
// none, std::bad_alloc.
template <typename Get>
void* AllocateWith(size_t bytes, Get get) {
  for (;;) {
    const AllocationRefusal refuse = g_refusal.load(std::memory_order_relaxed);
    void* block = refuse != nullptr && refuse(bytes) ? nullptr : get();
    if (block != nullptr) return block;
    t_refusedBytes = bytes;
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void* Allocate(size_t bytes) {
  return AllocateWith(bytes, [bytes] { return std::malloc(bytes != 0 ? bytes : 1); });
}

void* Allocate(size_t bytes, std::align_val_t alignment) {
  return AllocateWith(bytes, [bytes, alignment] {
    void* block = nullptr;
    const size_t align = std::max(static_cast<size_t>(alignment), sizeof(void*));
    return posix_memalign(&block, align, bytes != 0 ? bytes : 1) == 0 ? block : nullptr;
  });
}

template <typename... A>
void* AllocateOrNull(A... args) noexcept {
  try {
    return Allocate(args...);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

size_t RefusedAllocation() { return t_refusedBytes; }

AllocationRefusal ReplaceAllocationRefusal(AllocationRefusal refuse) {
  return g_refusal.exchange(refuse);
}

}  // namespace os::posix

using os::posix::Allocate;
using os::posix::AllocateOrNull;

void* operator new(std::size_t bytes) { return Allocate(bytes); }
void* operator new[](std::size_t bytes) { return Allocate(bytes); }
void* operator new(std::size_t bytes, std::align_val_t alignment) {
  return Allocate(bytes, alignment);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment) {
  return Allocate(bytes, alignment);
}
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  return AllocateOrNull(bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return AllocateOrNull(bytes);
}
void* operator new(std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateOrNull(bytes, alignment);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment,
                     const std::nothrow_t&) noexcept {
  return AllocateOrNull(bytes, alignment);
}

// Not inlined: a compiler that sees free() take a block from operator new
// would warn of a mismatch, not knowing that this operator new used malloc.
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete[](void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, std::align_val_t) noexcept {
  std::free(block);
}
[[gnu::noinline]] void operator delete[](void* block, std::align_val_t) noexcept {
  std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  std::free(block);
}
[[gnu::noinline]] void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
[[gnu::noinline]] void operator delete[](void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, std::align_val_t,
                                       const std::nothrow_t&) noexcept {
  std::free(block);
}
[[gnu::noinline]] void operator delete[](void* block, std::align_val_t,
                                         const std::nothrow_t&) noexcept {
  std::free(block);
}
