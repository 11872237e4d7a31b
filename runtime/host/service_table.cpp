// The ServiceTable and HelperTable: the program's compiled code reaches the
// runtime through these positions only, so their order never changes.
#include "runtime/host/service_table.h"

#include <string>

#include "runtime/host/end_of_run.h"
#include "runtime/host/runtime_application.h"
#include "runtime/host/runtime_error.h"
#include "runtime/host/runtime_messages.h"
#include "runtime/host/startup.h"
#include "runtime/services/directory_search.h"
#include "runtime/values/value_array.h"
#include "runtime/values/value_memory.h"

namespace rt {
namespace {

template <typename Fn>
ServiceEntry Entry(Fn fn) {
  return reinterpret_cast<ServiceEntry>(fn);
}

// A text in the program's constant data at a stored offset; null when the
// offset leaves the data or the text has no end inside it.
const char* ConstantText(const ProgramDescription* d, uintptr_t offset) {
  if (d == nullptr || d->constantData == nullptr || offset >= d->constantLength) return nullptr;
  const char* text = static_cast<const char*>(d->constantData) + offset;
  for (uintptr_t i = offset; i < d->constantLength; ++i) {
    if (text[i - offset] == '\0') return text;
  }
  return nullptr;
}

// Slot 1: the address of the external-library function the program declared
// with this number; the caller then calls it with its own arguments. The
// program's external tables give, per declaration, the offsets of the
// library's and the function's names in its constant data; the module
// (table 0) and the address (table 3) are kept once resolved.
ServiceEntry ResolveExternalFunction(int32_t declaration) {
  RuntimeApplication& app = App();
  const os::Platform& p = os::Os();
  const ProgramDescription* d = app.program.description;
  const size_t count = app.ExternalLibraryTables[0].size();
  const char* library = nullptr;
  const char* function = nullptr;
  if (declaration >= 0 && static_cast<size_t>(declaration) < count) {
    const size_t i = static_cast<size_t>(declaration);
    if (app.ExternalLibraryTables[3][i] != 0) {
      return reinterpret_cast<ServiceEntry>(app.ExternalLibraryTables[3][i]);
    }
    library = ConstantText(d, app.ExternalLibraryTables[1][i]);
    function = ConstantText(d, app.ExternalLibraryTables[2][i]);
    if (library != nullptr && function != nullptr && p.LoadLibraryA != nullptr &&
        p.GetProcAddress != nullptr) {
      if (app.ExternalLibraryTables[0][i] == 0) {
        app.ExternalLibraryTables[0][i] = reinterpret_cast<uintptr_t>(p.LoadLibraryA(library));
      }
      auto module = reinterpret_cast<os::Handle>(app.ExternalLibraryTables[0][i]);
      app.ResolverModule = module;
      app.ResolverLibraryName = library;
      app.ResolverFunctionName = function;
      if (module != nullptr) {
        if (void* address = p.GetProcAddress(module, function)) {
          app.ExternalLibraryTables[3][i] = reinterpret_cast<uintptr_t>(address);
          return reinterpret_cast<ServiceEntry>(address);
        }
      }
    }
  }
  std::string message = kExternalFunctionNotFound;
  message += library != nullptr ? library : "?";
  message += " / ";
  message += function != nullptr ? function : std::to_string(declaration);
  app.ReportRuntimeError(message.c_str(), 0);
}

WindowUnit* FindUnit(int32_t number) {
  for (auto& unit : App().WindowUnitTable) {
    if (unit != nullptr && unit->id == static_cast<uint32_t>(number)) return unit.get();
  }
  return nullptr;
}

// Slot 4: the window unit with this number; null when the program has none.
WindowUnit* WindowUnitByNumber(int32_t number) { return FindUnit(number); }

// Slot 5: the live window of the unit with this number; null while the unit
// is not loaded (or does not exist).
os::Handle WindowOfUnit(int32_t number) {
  WindowUnit* unit = FindUnit(number);
  if (unit == nullptr || unit->window == nullptr) return nullptr;
  return os::Os().IsWindow(unit->window) ? unit->window : nullptr;
}

constexpr char kUnitWindowClass[] = "ModManifestWindowUnit";
constexpr os::Dword kWsOverlappedWindow = 0x00CF0000u;
constexpr os::Dword kWsVisible = 0x10000000u;
constexpr int kCwUseDefault = static_cast<int>(0x80000000u);

// A unit's window: when the last one is destroyed after the run finished,
// the message loop is told to end.
intptr_t OS_CALLBACK UnitWindowProc(os::Handle hwnd, uint32_t message, uintptr_t wParam,
                                    intptr_t lParam) {
  if (message == os::kWmDestroy) {
    RuntimeApplication& app = App();
    for (auto& unit : app.WindowUnitTable) {
      if (unit != nullptr && unit->window == hwnd) unit->window = nullptr;
    }
    if (app.RunFinished == 1 && AnyWindowOpen() == 0) os::Os().PostQuitMessage(0);
  }
  return os::Os().DefWindowProcA(hwnd, message, wParam, lParam);
}

// Slot 11: loads the start-up window with this number, showing the unit's
// window; a unit that does not exist or whose window cannot be created is a
// runtime error.
void LoadStartupWindow(int32_t number) {
  RuntimeApplication& app = App();
  const os::Platform& p = os::Os();
  WindowUnit* unit = FindUnit(number);
  if (unit != nullptr && unit->window != nullptr && p.IsWindow(unit->window)) return;
  if (unit != nullptr) {
    os::Handle instance =
        app.m_hInstance != nullptr ? app.m_hInstance : p.GetModuleHandleA(nullptr);
    os::WndClassA cls{};
    cls.lpfnWndProc = UnitWindowProc;
    cls.hInstance = instance;
    cls.hCursor = p.LoadCursorA(nullptr, os::kIdcArrow);
    cls.lpszClassName = kUnitWindowClass;
    os::RegisterFrameworkClass(cls);  // already registered by an earlier load: fine
    unit->window = p.CreateWindowExA(0, kUnitWindowClass, unit->caption.c_str(),
                                     kWsOverlappedWindow | kWsVisible, kCwUseDefault,
                                     kCwUseDefault, kCwUseDefault, kCwUseDefault, nullptr,
                                     nullptr, instance, nullptr);
    if (unit->window != nullptr) return;
  }
  app.ReportRuntimeError(kStartupWindowLoadFailure, 0);
}

// Helper 4: the data-type record `type` of support library `library` (56
// bytes, described by the library); null when either number is out of range.
const void* LibraryDataType(int32_t library, int32_t type) {
  const auto& list = App().LibraryList;
  if (library < 0 || static_cast<size_t>(library) >= list.size()) return nullptr;
  const LibraryDescriptor* d = list[static_cast<size_t>(library)];
  if (d == nullptr || d->dataTypes == nullptr || type < 0 ||
      static_cast<uint32_t>(type) >= d->dataTypeCount) {
    return nullptr;
  }
  return static_cast<const uint8_t*>(d->dataTypes) + 56 * static_cast<size_t>(type);
}

// Helper 5: how many data types support library `library` defines; 0 for a
// library the program does not list.
int32_t LibraryDataTypeCount(int32_t library) {
  const auto& list = App().LibraryList;
  if (library < 0 || static_cast<size_t>(library) >= list.size()) return 0;
  const LibraryDescriptor* d = list[static_cast<size_t>(library)];
  return d != nullptr ? static_cast<int32_t>(d->dataTypeCount) : 0;
}

}  // namespace

const ServiceEntry ServiceTable[13] = {
    Entry(&RaiseRuntimeError),        // 0
    Entry(&ResolveExternalFunction),  // 1
    Entry(&CallCommand),              // 2
    Entry(&CallCommand),              // 3
    Entry(&WindowUnitByNumber),       // 4
    Entry(&WindowOfUnit),             // 5
    Entry(&AllocateBlock),            // 6
    Entry(&ResizeBlock),              // 7
    Entry(&ReleaseBlock),             // 8
    Entry(&EndProgram),               // 9
    Entry(&FinishRun),                // 10
    Entry(&LoadStartupWindow),        // 11
    Entry(&HelperDispatch),           // 12
};

const ServiceEntry HelperTable[7] = {
    Entry(&FindFile),              // 0
    Entry(&CloseSearch),           // 1
    Entry(&ArrayMakePrivate),      // 2
    Entry(&SetEndOfRunHandler),    // 3
    Entry(&LibraryDataType),       // 4
    Entry(&LibraryDataTypeCount),  // 5
    Entry(&InitRuntime),           // 6
};

ServiceEntry HelperDispatch(int32_t n) {
  if (n < 0 || n >= 7) App().ReportRuntimeError(kUnknownHelper, 0);
  return HelperTable[n];
}

}  // namespace rt
