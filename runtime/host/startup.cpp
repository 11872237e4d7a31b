// Start-up: fills the RuntimeApplication from the program's description, so
// that everything the runtime's services rely on is in place before the
// program's own code runs.
#include "runtime/host/startup.h"

#include <cstring>
#include <memory>
#include <vector>

#include "runtime/host/end_of_run.h"
#include "runtime/host/runtime_application.h"
#include "runtime/host/runtime_error.h"
#include "runtime/host/runtime_messages.h"
#include "runtime/services/command.h"
#include "runtime/services/program_directory.h"
#include "runtime/values/value_memory.h"

namespace rt {
namespace {

// The class of the hidden window that receives the end request.
constexpr char kEndRequestClass[] = "ModManifestEndRequest";

intptr_t OS_CALLBACK EndRequestProc(os::Handle hwnd, uint32_t message, uintptr_t wParam,
                                    intptr_t lParam) {
  if (message == kEndRequestMessage) EndProgram(static_cast<int32_t>(wParam));
  return os::Os().DefWindowProcA(hwnd, message, wParam, lParam);
}

os::Handle CreateEndRequestWindow(RuntimeApplication& app) {
  const os::Platform& p = os::Os();
  // The framework stores the module handle before the program runs; an
  // application driven without it (a test) registers for the executable.
  os::Handle instance = app.m_hInstance != nullptr ? app.m_hInstance : p.GetModuleHandleA(nullptr);
  os::WndClassA cls{};
  cls.style = 0;
  cls.lpfnWndProc = EndRequestProc;
  cls.hInstance = instance;
  cls.hIcon = nullptr;
  cls.hCursor = p.LoadCursorA(nullptr, os::kIdcArrow);
  cls.hbrBackground = p.GetStockObject(os::kNullBrush);
  cls.lpszClassName = kEndRequestClass;
  // A class left registered by an earlier run in this process serves as well;
  // a failure shows in the window creation and only matters to an end
  // request from another thread.
  os::RegisterFrameworkClass(cls);
  return p.CreateWindowExA(os::kWsExToolWindow, kEndRequestClass, "", 0, 0, 0, 0, 0, nullptr,
                           nullptr, instance, nullptr);
}

// Reads the serialised WindowUnitTable: a 32-bit byte count n of the unit
// index, the index (n/8 unit numbers, then n/8 words that loading fills with
// the units' addresses), then one record per unit: its name and caption as
// NUL-terminated texts, a 32-bit handler count and that many 32-bit handler
// offsets from the code base (-1: no handler). Every read stays inside the
// given bytes; false when the data is malformed.
class WindowUnitReader {
 public:
  WindowUnitReader(const uint8_t* data, uint32_t length) : data_(data), length_(length) {}

  bool Read(const void* codeBase, std::vector<std::unique_ptr<WindowUnit>>& table) {
    uint32_t indexBytes = 0;
    if (!Word(indexBytes) || indexBytes % 8 != 0 || indexBytes > length_ - at_) return false;
    const uint32_t units = indexBytes / 8;
    std::vector<uint32_t> ids(units);
    for (uint32_t& id : ids) Word(id);
    at_ += units * 4;  // the address half, filled below
    std::vector<std::unique_ptr<WindowUnit>> loaded;
    for (uint32_t u = 0; u < units; ++u) {
      auto unit = std::make_unique<WindowUnit>();
      unit->id = ids[u];
      uint32_t handlers = 0;
      if (!Text(unit->name) || !Text(unit->caption) || !Word(handlers)) return false;
      if (handlers > (length_ - at_) / 4) return false;
      for (uint32_t h = 0; h < handlers; ++h) {
        uint32_t offset = 0;
        Word(offset);
        unit->handlers.push_back(
            offset == 0xFFFFFFFFu || codeBase == nullptr
                ? nullptr
                : static_cast<const void*>(static_cast<const uint8_t*>(codeBase) + offset));
      }
      loaded.push_back(std::move(unit));
    }
    table = std::move(loaded);
    return true;
  }

 private:
  bool Word(uint32_t& value) {
    if (length_ - at_ < 4) return false;
    std::memcpy(&value, data_ + at_, 4);
    at_ += 4;
    return true;
  }
  bool Text(std::string& text) {
    const void* end = std::memchr(data_ + at_, '\0', length_ - at_);
    if (end == nullptr) return false;
    size_t n = static_cast<const uint8_t*>(end) - (data_ + at_);
    text.assign(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += static_cast<uint32_t>(n + 1);
    return true;
  }

  const uint8_t* data_;
  uint32_t length_;
  uint32_t at_ = 0;
};

}  // namespace

void InitRuntime() {
  HandlePlatformAllocationFailures();
  RuntimeApplication& app = App();
  const os::Platform& p = os::Os();
  static const ProgramDescription kNothing{};
  const ProgramDescription& d =
      app.program.description != nullptr ? *app.program.description : kNothing;

  app.RuntimeHeap = p.GetProcessHeap();

  app.RunMode = d.runMode;
  app.SecondMode = d.secondMode;
  app.NextIdentifier = d.identifierSeed + 1;

  // The result is not examined: the apartment is left at the end of the run
  // whenever it was asked for.
  if (app.OleInitialised == 0) {
    p.OleInitialize(nullptr);
    app.OleInitialised = 1;
  }

  LoadProgramDirectory(app);
  // Relative paths resolve against the program's folder from here on.
  p.SetCurrentDirectoryA(app.ProgramDirectory.c_str());

  for (HookSlot& slot : app.Hooks) slot.Fill(app.program.stubA, app.program.stubA, app.program.stubB);

  app.EndRequestWindow = CreateEndRequestWindow(app);

  app.MainThreadId = p.GetCurrentThreadId();

  if (d.constantLength != 0) AddStaticRange(d.constantData, d.constantLength);

  if (d.externalLibraryCount > 0) {
    const uint32_t n = d.externalLibraryCount;
    for (auto& table : app.ExternalLibraryTables) table.assign(n, 0);
    // Table 0 holds the module handles once the libraries are loaded; tables
    // 1 and 2 are the program's own, table 3 the resolved entries.
    for (uint32_t i = 0; i < n; ++i) {
      if (d.externalTable1 != nullptr) app.ExternalLibraryTables[1][i] = d.externalTable1[i];
      if (d.externalTable2 != nullptr) app.ExternalLibraryTables[2][i] = d.externalTable2[i];
    }
  }

  // The libraries learn the host-request entry before any command runs;
  // without it a command cannot reach the host. The count is read again after
  // every notice.
  uint32_t told = 0;
  for (uint32_t i = 0; i < d.libraryCount; ++i) {
    const LibraryDescriptor* library = d.libraries != nullptr ? d.libraries[i] : nullptr;
    if (library != nullptr && library->notify != nullptr) {
      library->notify(1, reinterpret_cast<intptr_t>(&HostRequest), 0);
    }
    told = i + 1;
  }
  for (uint32_t i = 0; i < told; ++i) {
    app.LibraryList.push_back(d.libraries != nullptr ? d.libraries[i] : nullptr);
    app.LibraryValues.push_back(0);
  }

  if (d.windowUnitsLength != 0) {
    WindowUnitReader reader(static_cast<const uint8_t*>(d.windowUnits), d.windowUnitsLength);
    if (d.windowUnits == nullptr || !reader.Read(d.codeBase, app.WindowUnitTable)) {
      app.ReportRuntimeError(kWindowTemplateLoadFailure, 0);
    }
  }
}

void SetEndOfRunHandler(void (*handler)()) { App().EndOfRunHandler = handler; }

}  // namespace rt
