// The runtime's one way of failing: a message box, then exit status -1.
#pragma once

#include <cstdint>

namespace rt {

// Raised by compiled checks with a code from 1 to 11. Never returns.
[[noreturn]] void RaiseRuntimeError(int32_t code);

// Called when the heap refuses a block of byteCount bytes. Never returns.
[[noreturn]] void ReportAllocationFailure(int32_t byteCount);

// Makes an allocation the platform layer could not make for itself (a listing
// buffer, a path, a container of the runtime's own) end the run as the
// runtime's own refusals do. Start-up installs it first thing.
void HandlePlatformAllocationFailures();

// The runtime's message texts, GBK bytes.
extern const char* const RuntimeErrorMessages[11];

}  // namespace rt
