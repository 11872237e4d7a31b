// The runtime's one process-wide object. It holds every piece of runtime
// state that outlives a single call, from the heap handle and the static
// ranges to the program's folder, the handlers and hooks, and the lists that
// the end of the run releases.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/app_framework.h"
#include "platform/platform.h"
#include "runtime/host/program_description.h"

namespace rt {

// A lazily armed callback holder: initialiser, handler, finaliser.
struct HookSlot {
  HookRoutine initialiser = nullptr;
  HookRoutine handler = nullptr;
  HookFinaliser finaliser = nullptr;

  // Stores all three when i and h are both set, otherwise empties all three;
  // an old finaliser runs first when the slot holds one without an
  // initialiser (it was armed and used).
  void Fill(HookRoutine i, HookRoutine h, HookFinaliser f);
  // Runs the initialiser once (disarming the slot when it answers 0), then
  // the handler with the argument; 0 when no handler is left.
  intptr_t Invoke(intptr_t argument);
};

// One window-unit template of the WindowUnitTable.
struct WindowUnit {
  std::string name;
  std::string caption;
  // The unit's live window, null while the unit is not loaded.
  os::Handle window = nullptr;
};

// A program-supplied handler consulted before the runtime-error box; a
// nonzero answer suppresses the box.
using ErrorHandlerFn = int32_t (*)(int32_t code, const char* message);
using EndOfRunHandlerFn = void (*)();

class RuntimeApplication : public os::WinApp {
 public:
  explicit RuntimeApplication(const ProgramImage& program);
  ~RuntimeApplication() override;

  // Instance initialisation: ProgramFolderWithSeparator, the second
  // HookSlot, then ProgramEntry, whose result is returned.
  int InitInstance() override;
  // EndOfRunCleanup(0), then the framework's own exit processing.
  int ExitInstance() override;

  // Shows the runtime-error box (unless an ErrorHandler takes the error) and
  // ends the process with -1. Never returns.
  [[noreturn]] void ReportRuntimeError(const char* message, int32_t code);

  const ProgramImage program;

  ErrorHandlerFn ErrorHandler = nullptr;
  int32_t RunMode = 0;
  int32_t SecondMode = 0;
  int32_t NextIdentifier = 0;
  std::string ProgramDirectory;
  std::string ProgramFileName;
  std::string ProgramFolderWithSeparator;
  std::vector<std::unique_ptr<WindowUnit>> WindowUnitTable;
  std::vector<const LibraryDescriptor*> LibraryList;
  std::vector<uint32_t> LibraryValues;
  // Module handles, names and function tables of external libraries.
  std::vector<uintptr_t> ExternalLibraryTables[4];
  // Two words a range: start, end (half-open).
  std::vector<uintptr_t> StaticRangeList;
  int32_t EventSuppressCount = 0;
  uint32_t RunFinished = 0;
  os::Dword MainThreadId = 0;
  HookSlot Hooks[3];
  os::Handle EndRequestWindow = nullptr;
  uint32_t OleInitialised = 0;
  os::Handle RuntimeHeap = nullptr;
  EndOfRunHandlerFn EndOfRunHandler = nullptr;
  uint32_t CleanupRunning = 0;
  // Idle callbacks: three parallel lists.
  std::vector<os::Handle> IdleWindows;
  std::vector<void (*)(intptr_t)> IdleRoutines;
  std::vector<intptr_t> IdleArguments;

  // The exit status of a normal end when the run reports that it failed
  // (1: the manifest could not be written). ExitInstance returns it unless
  // the framework's own result is nonzero.
  int32_t ExitStatus = 0;

  // Guards the worker-thread list.
  std::mutex WorkerLock;
};

// The RuntimeApplication the runtime acts on: the program's one instance, or
// the one a test built.
RuntimeApplication& App();

}  // namespace rt
