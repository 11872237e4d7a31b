// Interrupts, the clock and other processes on POSIX systems.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/posix/posix_internal.h"
#include "platform/process_control.h"

namespace os {
namespace {

volatile sig_atomic_t g_signal = 0;
bool g_interruptIsNormalEnd = false;

void OnSignal(int signal) { g_signal = signal; }

}  // namespace

bool ProcessRuns(unsigned long pid) {
  if (pid == 0 || pid > static_cast<unsigned long>(INT_MAX)) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void WatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  // No SA_RESTART: a call that waits (a write to a pipe whose reader has
  // stopped) returns at the signal instead of waiting on, so that the run
  // ends promptly whatever its output is doing.
  action.sa_flags = 0;
  sigemptyset(&action.sa_mask);
  // A closed pipe (SIGPIPE: a program's output piped into `head`) and
  // SIGQUIT end the run as Ctrl-C does, once its temporary files are gone.
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) sigaction(signal, &action, nullptr);
  posix::IgnoreFileSizeSignal();
}

bool Interrupted() { return g_signal != 0; }

void InterruptIsNormalEnd() { g_interruptIsNormalEnd = true; }

// A signal interrupts a blocking wait by itself.
void SetInterruptWaker(void (*)()) {}

void EndInterrupted() {
  const int signal = g_signal != 0 ? g_signal : SIGTERM;
  if (g_interruptIsNormalEnd && (signal == SIGINT || signal == SIGTERM || signal == SIGHUP)) {
    _exit(0);
  }
  // Ended by the signal itself, so that a shell sees why.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);
}

double Seconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void SleepMilliseconds(unsigned milliseconds) {
  timespec t{static_cast<time_t>(milliseconds / 1000),
             static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

}  // namespace os
