// Interrupts, the clock and other processes, as a long-running tool needs
// them: Ctrl-C and termination requests caught so that the program removes
// its temporary files first, a steady clock, and whether a process runs.
#pragma once

namespace os {

// Catches Ctrl-C and termination requests (SIGINT, SIGTERM, SIGHUP,
// SIGPIPE, SIGQUIT; console close) so that the program can clean up first.
void WatchInterrupts();
bool Interrupted();
// Ends the process the way the interrupt would have ended it. Call once the
// temporary files are gone.
[[noreturn]] void EndInterrupted();
// From now on an interrupt is the program's normal end (as for a watch that
// runs until Ctrl-C): EndInterrupted then ends it with status 0.
void InterruptIsNormalEnd();
// Called when an interrupt arrives (on Windows from the console's own
// thread), so that a wait that blocks the program can end; POSIX: the
// signal itself ends such a wait.
void SetInterruptWaker(void (*wake)());

// Seconds on a steady clock.
double Seconds();
void SleepMilliseconds(unsigned milliseconds);

// Whether the process with this id (as GetCurrentProcessId gives it) still
// runs. A process that exists but may not be asked counts as running.
bool ProcessRuns(unsigned long pid);

}  // namespace os
