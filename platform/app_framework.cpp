#include "platform/app_framework.h"

#include <string>
#include <vector>

namespace os {
namespace {

WinApp* g_currentApp = nullptr;

struct FrameworkClass {
  std::string name;
  Handle instance;
};

// Classes to unregister at termination. Never destroyed: termination may be
// asked for again while the process exits.
std::vector<FrameworkClass>& FrameworkClasses() {
  static auto* classes = new std::vector<FrameworkClass>;
  return *classes;
}

constexpr uint32_t kWmPaint = 0x000F;
constexpr uint32_t kWmSysTimer = 0x0118;
constexpr uint32_t kWmMouseMove = 0x0200;
constexpr uint32_t kWmNcMouseMove = 0x00A0;

// The last mouse move seen, so a repeated one does not count as activity.
struct LastMove {
  uint32_t message = 0;
  int32_t x = -1;
  int32_t y = -1;
} g_lastMove;

}  // namespace

WinApp::WinApp() : previous_(g_currentApp) { g_currentApp = this; }

WinApp::~WinApp() {
  // Unlink this object wherever it sits in the chain of live applications.
  if (g_currentApp == this) {
    g_currentApp = previous_;
    return;
  }
  for (WinApp* app = g_currentApp; app != nullptr; app = app->previous_) {
    if (app->previous_ == this) {
      app->previous_ = previous_;
      return;
    }
  }
}

int WinApp::InitApplication() { return 1; }

int WinApp::InitInstance() { return 1; }

int WinApp::ExitInstance() { return static_cast<int>(m_msgCur.wParam); }

int WinApp::Run() {
  bool idle = true;
  long idleCount = 0;
  Msg peeked{};
  for (;;) {
    // Idle work while nothing is waiting and the application still wants it.
    while (idle && !Os().PeekMessageA(&peeked, nullptr, 0, 0, kPmNoRemove)) {
      if (!OnIdle(idleCount++)) idle = false;
    }
    // Then every waiting message, until the queue is empty again.
    do {
      if (!PumpMessage()) return ExitInstance();
      if (IsIdleMessage(m_msgCur)) {
        idle = true;
        idleCount = 0;
      }
    } while (Os().PeekMessageA(&peeked, nullptr, 0, 0, kPmNoRemove));
  }
}

int WinApp::OnIdle(long) { return 0; }

bool WinApp::PumpMessage() {
  // 0 is WM_QUIT; -1 an error, after which waiting on would never end.
  if (Os().GetMessageA(&m_msgCur, nullptr, 0, 0) <= 0) return false;
  Os().TranslateMessage(&m_msgCur);
  Os().DispatchMessageA(&m_msgCur);
  return true;
}

bool WinApp::IsIdleMessage(const Msg& msg) {
  if (msg.message == kWmPaint || msg.message == kWmSysTimer) return false;
  if (msg.message == kWmMouseMove || msg.message == kWmNcMouseMove) {
    bool same = g_lastMove.message == msg.message && g_lastMove.x == msg.ptX &&
                g_lastMove.y == msg.ptY;
    g_lastMove = LastMove{msg.message, msg.ptX, msg.ptY};
    return !same;
  }
  return true;
}

WinApp* CurrentApp() { return g_currentApp; }

uint16_t RegisterFrameworkClass(const WndClassA& windowClass) {
  uint16_t atom = Os().RegisterClassA(&windowClass);
  if (atom != 0 && windowClass.lpszClassName != nullptr) {
    FrameworkClasses().push_back(FrameworkClass{windowClass.lpszClassName, windowClass.hInstance});
  }
  return atom;
}

void TerminateFramework() {
  std::vector<FrameworkClass>& classes = FrameworkClasses();
  for (const FrameworkClass& cls : classes) Os().UnregisterClassA(cls.name.c_str(), cls.instance);
  classes.clear();
  if (WinApp* app = CurrentApp()) app->m_windowMapAlive = false;
}

int FrameworkMain(Handle instance, const char* commandLine, int showCommand) {
  // No critical-error or file-not-found boxes from the platform.
  Dword previous = Os().SetErrorMode(0);
  Os().SetErrorMode(previous | kSemFailCriticalErrors | kSemNoOpenFileErrorBox);

  int result = -1;
  WinApp* app = CurrentApp();
  if (app != nullptr) {
    app->m_hInstance = instance;
    app->m_lpCmdLine = commandLine != nullptr ? commandLine : "";
    app->m_nCmdShow = showCommand;
    // An application that cannot initialise itself ends with -1 and runs no
    // further hook; without an application object there is nothing to run.
    if (app->InitApplication() != 0) {
      result = app->InitInstance() != 0 ? app->Run() : app->ExitInstance();
    }
  }
  TerminateFramework();
  return result;
}

}  // namespace os
