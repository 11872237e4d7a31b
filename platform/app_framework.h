// A small application framework in the manner of the platform's application
// class: one application object in static storage, a main routine that drives
// its hooks, window-class registration that is undone at termination, and a
// message pump with idle processing.
//
// Order of a run (FrameworkMain):
//   1. the error mode becomes its old value | SEM_FAILCRITICALERRORS |
//      SEM_NOOPENFILEERRORBOX, so the platform shows no error boxes;
//   2. the module handle and command line are stored;
//   3. InitApplication(), then InitInstance();
//   4. InitInstance() == 0: the result is ExitInstance();
//      otherwise the result is Run(), which pumps messages until WM_QUIT and
//      then returns ExitInstance();
//   5. termination: every window class registered through
//      RegisterFrameworkClass() is unregistered;
//   6. the result is returned (and becomes the exit status).
// The application object is constructed before FrameworkMain runs and
// destroyed after it returns, by the language's static construction and
// destruction.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace os {

class WinApp {
 public:
  WinApp();
  virtual ~WinApp();
  WinApp(const WinApp&) = delete;
  WinApp& operator=(const WinApp&) = delete;

  virtual int InitApplication();
  // Nonzero: the framework runs its message loop (Run). Zero: it goes
  // straight to ExitInstance.
  virtual int InitInstance();
  // The result becomes the process's exit status. The base returns the
  // parameter of the last message retrieved into m_msgCur.
  virtual int ExitInstance();
  virtual int Run();
  // Idle work; returns nonzero while more idle work is wanted.
  virtual int OnIdle(long count);

  // Fetches and dispatches one message; false when it was WM_QUIT.
  virtual bool PumpMessage();
  // Whether idle work is due after this message.
  virtual bool IsIdleMessage(const Msg& msg);

  Handle m_hInstance = nullptr;
  const char* m_lpCmdLine = "";
  int m_nCmdShow = 10;
  Msg m_msgCur{};
  // Whether the framework's window map still exists (it goes at termination).
  bool m_windowMapAlive = true;

 private:
  WinApp* previous_ = nullptr;
};

// The application object that FrameworkMain drives: the most recently
// constructed one that still exists.
WinApp* CurrentApp();

// Registers a window class on behalf of the framework; FrameworkMain
// unregisters it at termination. Returns the class atom (0 on failure).
uint16_t RegisterFrameworkClass(const WndClassA& windowClass);

// Unregisters every class registered through RegisterFrameworkClass and marks
// the window map as gone. FrameworkMain calls it last; tests may call it.
void TerminateFramework();

// The framework's main routine, called by WinMain or main.
int FrameworkMain(Handle instance, const char* commandLine, int showCommand);

}  // namespace os
