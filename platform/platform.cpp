#include "platform/platform.h"

#include <cstdlib>

namespace os {
namespace {
const Platform* g_current = nullptr;
}

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

}  // namespace os
