// This program's side of the runtime contract: its description (what it
// carries for the runtime), its constant data and its start-up routines.
#pragma once

#include <cstdint>

#include "runtime/host/program_description.h"

namespace gen {

// The ProgramImage the program's RuntimeApplication is constructed with.
const rt::ProgramImage& ThisProgram();

// The end-of-run routine ProgramEntry installs: this program has nothing to
// tear down.
void EndOfRunRoutine();

// The program's entry: InitRuntime, the floating-point reset, the empty
// initialisation routine, the end-of-run routine, the ManifestRun, FinishRun.
int32_t ProgramEntry();

}  // namespace gen
