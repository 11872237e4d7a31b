// Interrupts, the clock and other processes on Windows. Ctrl-C, Ctrl-Break
// and closing the console arrive on a thread of the console's own; the
// main thread removes its temporary files and ends the process.
#include <windows.h>

#include "platform/process_control.h"
#include "platform/win32/win32_output.h"

namespace os {
namespace {

volatile LONG g_interrupted = 0;
HANDLE g_cleanedUp = nullptr;  // set once the temporary files are gone
bool g_interruptIsNormalEnd = false;
void (*volatile g_waker)() = nullptr;
// The thread that runs the walk: a write of its that waits (a pipe whose
// reader has stopped) is cancelled at an interrupt, so that the run ends.
HANDLE g_mainThread = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  ::InterlockedExchange(&g_interrupted, 1);
  if (void (*wake)() = g_waker) wake();
  if (g_mainThread != nullptr) ::CancelSynchronousIo(g_mainThread);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // Closing the console, logging off or shutting down ends the process once
  // this returns: give the main thread time to remove its temporary files.
  if (g_cleanedUp != nullptr) ::WaitForSingleObject(g_cleanedUp, 4000);
  return TRUE;
}

// Cancels a write of the thread given that still waits after a moment.
DWORD WINAPI CancelWaitingWrite(void* thread) {
  ::Sleep(500);
  ::CancelSynchronousIo(static_cast<HANDLE>(thread));
  return 0;
}

}  // namespace

bool ProcessRuns(unsigned long pid) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return ::GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool runs = !::GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
  ::CloseHandle(process);
  return runs;
}

void WatchInterrupts() {
  g_cleanedUp = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                    &g_mainThread, 0, FALSE, DUPLICATE_SAME_ACCESS);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted() { return ::InterlockedCompareExchange(&g_interrupted, 0, 0) != 0; }

void InterruptIsNormalEnd() { g_interruptIsNormalEnd = true; }

// A waker is set by what waits for events (a watch): its output must be
// seen while it waits.
void SetInterruptWaker(void (*wake)()) {
  g_waker = wake;
  win32::OutputWaits();
}

void EndInterrupted() {
  // What the run wrote before the stop is written out, but not waited on for
  // more than a moment: an output that takes nothing must not hold the end.
  HANDLE self = nullptr;
  if (::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self,
                        0, FALSE, DUPLICATE_SAME_ACCESS)) {
    const HANDLE watchdog = ::CreateThread(nullptr, 0, CancelWaitingWrite, self, 0, nullptr);
    if (watchdog != nullptr) {
      win32::FlushOutput();
      ::CloseHandle(watchdog);
    }
  }
  if (g_cleanedUp != nullptr) ::SetEvent(g_cleanedUp);
  // The status a process ended by Ctrl-C has.
  ::ExitProcess(g_interruptIsNormalEnd ? 0 : STATUS_CONTROL_C_EXIT);
}

double Seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void SleepMilliseconds(unsigned milliseconds) {
  win32::FlushOutput();
  ::Sleep(milliseconds);
}

}  // namespace os
