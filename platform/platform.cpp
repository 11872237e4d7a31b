#include "platform/platform.h"

#include <cstdlib>

namespace os {
namespace {
const Platform* g_current = nullptr;
OutOfMemoryHandler g_outOfMemory = nullptr;
const char* g_startPath = nullptr;
}

void SetStartPath(const char* path) { g_startPath = path; }
const char* StartPath() { return g_startPath; }

const Platform& Os() {
  if (g_current == nullptr) g_current = &NativePlatform();
  return *g_current;
}

const Platform* InstallPlatform(const Platform* table) {
  const Platform* previous = g_current;
  g_current = table;
  return previous;
}

void EndProcess(uint32_t exitCode) {
  Os().ExitProcess(exitCode);
  // A back-end whose ExitProcess came back has broken its contract; never run
  // on after a requested end.
  std::abort();
}

OutOfMemoryHandler SetOutOfMemoryHandler(OutOfMemoryHandler handler) {
  OutOfMemoryHandler previous = g_outOfMemory;
  g_outOfMemory = handler;
  return previous;
}

void OutOfMemory(size_t bytes) {
  // A report that itself runs out of memory ends the process at once instead
  // of reporting again.
  thread_local bool reporting = false;
  if (g_outOfMemory != nullptr && !reporting) {
    reporting = true;
    struct Done {
      ~Done() { reporting = false; }
    } done;
    g_outOfMemory(bytes);
  }
  EndProcess(static_cast<uint32_t>(-1));
}

}  // namespace os
