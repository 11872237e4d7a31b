// The runtime's one process-wide object. It holds every piece of runtime
// state that outlives a single call, from the heap handle and the static
// ranges to the program's folder, the handlers and hooks, and the lists that
// the end of the run releases.
#pragma once

#include <atomic>
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
  // The unit's number, from the first half of the table's index.
  uint32_t id = 0;
  std::string name;
  std::string caption;
  // Event-handler addresses (code base + stored offset); null where the
  // stored offset is -1.
  std::vector<const void*> handlers;
  // The unit's live window, null while the unit is not loaded.
  os::Handle window = nullptr;
};

// An object the runtime keeps open on the program's behalf (a file, a
// device); closed and deleted at the end of the run.
class LiveObject {
 public:
  virtual ~LiveObject() = default;
  virtual void Close() = 0;
};

// An object the runtime owns until the end of the run.
class OwnedObject {
 public:
  virtual ~OwnedObject() = default;
};

// An icon the runtime made for the program, with the buffer it came from.
struct IconRecord {
  os::Handle icon = nullptr;
  std::vector<uint8_t> buffer;
};

// A component (type library or server library) the run registered with the
// system, with the routine that undoes the registration.
struct RegisteredComponent {
  std::string path;
  void (*unregister)(const std::string& path) = nullptr;
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

  // What the end of the run releases besides the fields above. Nothing in
  // this program fills these lists; runtime services that open such
  // resources add them here so the end of the run gives them back.
  //
  // Libraries loaded for calls of external-library functions, with their
  // names, and the external-function resolver's cache.
  std::vector<os::Handle> ExternalCallModules;
  std::vector<std::string> ExternalCallNames;
  os::Handle ResolverModule = nullptr;
  std::string ResolverLibraryName;
  std::string ResolverFunctionName;
  // The two icons the runtime may hold (the program's and the tray icon).
  os::Handle Icons[2] = {nullptr, nullptr};
  // Objects kept open for the program, with a companion word each.
  std::vector<LiveObject*> LiveObjects;
  std::vector<intptr_t> LiveObjectTags;
  std::vector<OwnedObject*> OwnedObjects;
  // The registered player object, removed through the "RemovePlayer"
  // routine that the first HookSlot resolves.
  void* Player = nullptr;
  // The background worker: its thread handle and the flag that asks it to
  // stop.
  os::Handle BackgroundWorker = nullptr;
  std::atomic<bool> BackgroundStopRequested{false};
  // Worker threads (guarded by WorkerLock) and the flag that asks them to
  // end.
  std::vector<os::Handle> WorkerThreads;
  std::atomic<bool> WorkersEndRequested{false};
  std::vector<std::unique_ptr<IconRecord>> IconRecords;
  // Set when the run started the socket library.
  bool SocketsStarted = false;
  std::vector<RegisteredComponent> RegisteredTypeLibraries;
  std::vector<RegisteredComponent> RegisteredServers;
  // Whether a modal state is active; MessageLoop(1) returns when it ends.
  bool ModalActive = false;

 private:
  // The application that App() answered before this one was constructed.
  RuntimeApplication* previous_ = nullptr;
};

// The RuntimeApplication the runtime acts on: the program's one instance, or
// the one a test built.
RuntimeApplication& App();

}  // namespace rt
