// The end of the run: FinishRun, the clean-up of every process-wide resource
// start-up acquired, and the one-way exit.
#pragma once

#include <cstdint>

namespace rt {

// ServiceTable slot 10: marks the run finished and, while a window unit is
// open, runs the message loop until the quit message.
void FinishRun();
int32_t AnyWindowOpen();
// mode 0: until the quit message; 1: also until the modal state ends.
void MessageLoop(int32_t mode);
// Releases what start-up acquired, in a fixed order; only on the main thread
// (another thread's call becomes the end request). A second call releases
// nothing.
void EndOfRunCleanup(int32_t code);
// ServiceTable slot 9, host request 2028: EndOfRunCleanup(code), then
// ExitProcess(code).
[[noreturn]] void EndProgram(int32_t code);

// The end request: the message the EndRequestWindow handles by EndProgram
// with the code in its first parameter.
constexpr uint32_t kEndRequestMessage = 0x8000 + 999;

}  // namespace rt
