// Start-up: fills the RuntimeApplication from the program's description
// before the program's own code runs.
#pragma once

namespace rt {

// HelperTable entry 6: called once, first thing in ProgramEntry.
void InitRuntime();
// HelperTable entry 3.
void SetEndOfRunHandler(void (*handler)());

}  // namespace rt
