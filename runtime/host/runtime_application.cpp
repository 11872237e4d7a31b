// The runtime's process-wide object: construction, the framework's two hooks,
// and App(), which finds the object the runtime acts on.
#include "runtime/host/runtime_application.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/host/end_of_run.h"
#include "runtime/host/runtime_error.h"

namespace rt {
namespace {

// The live RuntimeApplications form a stack: the program's own instance at
// the bottom, any a test builds on top of it.
RuntimeApplication* g_current = nullptr;

// The module's path, asked again with a larger buffer until it fits, so a
// long path is never cut short.
std::string ModulePath(os::Handle module) {
  std::string buffer(os::kMaxPath, '\0');
  for (;;) {
    buffer[0] = '\0';
    os::Dword size = static_cast<os::Dword>(buffer.size());
    os::Dword n = os::Os().GetModuleFileNameA(module, buffer.data(), size);
    if (n < size) {
      buffer.resize(n);
      return buffer;
    }
    if (buffer.size() >= (1u << 20)) {  // no path is that long; keep what came
      buffer.resize(size - 1);
      return buffer;
    }
    buffer.assign(buffer.size() * 2, '\0');
  }
}

// The part of a path up to and including its last backslash, scanning by
// characters of the ANSI code page (a trail byte 0x5C is no separator); the
// whole path when it has none.
std::string FolderWithSeparator(const std::string& path) {
  const os::Platform& p = os::Os();
  size_t cut = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (c == '\\') {
      cut = i;
    } else if (c >= 0x80 && p.IsDBCSLeadByteEx(os::kCodePageAnsi, c) && i + 1 < path.size()) {
      ++i;
    }
  }
  return cut == std::string::npos ? path : path.substr(0, cut + 1);
}

}  // namespace

RuntimeApplication::RuntimeApplication(const ProgramImage& image) : program(image) {
  previous_ = g_current;
  g_current = this;
}

RuntimeApplication::~RuntimeApplication() {
  // Normally a second pass after the exit hook's: it finds nothing left. The
  // clean-up acts on App(), so an application torn down out of order is made
  // current for it.
  RuntimeApplication* current = g_current;
  g_current = this;
  EndOfRunCleanup(0);
  g_current = current;
  if (g_current == this) {
    g_current = previous_;
    return;
  }
  // Torn down out of order: unlink from the stack where it sits.
  for (RuntimeApplication* a = g_current; a != nullptr; a = a->previous_) {
    if (a->previous_ == this) {
      a->previous_ = previous_;
      break;
    }
  }
}

int RuntimeApplication::InitInstance() {
  HandlePlatformAllocationFailures();
  ProgramFolderWithSeparator = FolderWithSeparator(ModulePath(m_hInstance));
  Hooks[1].Fill(program.stubA, program.stubA, program.stubB);
  return program.entry != nullptr ? program.entry() : 0;
}

int RuntimeApplication::ExitInstance() {
  EndOfRunCleanup(0);
  int result = os::WinApp::ExitInstance();
  // A run that could not do its job reports it through ExitStatus; a quit
  // code of the framework's own takes precedence.
  return result != 0 ? result : ExitStatus;
}

RuntimeApplication& App() {
  if (g_current == nullptr) {
    // Only a broken build gets here: the program's instance is constructed
    // before any runtime code runs.
    std::fputs("modmanifest: the runtime was used without a RuntimeApplication\n", stderr);
    std::abort();
  }
  return *g_current;
}

}  // namespace rt
