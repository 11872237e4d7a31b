// The manifest run: lists the program's folder and writes the manifest that
// includes its XML files and the zenter.xml of each sub-folder.
#pragma once

#include <cstdint>

namespace gen {

// Returns 0. When the manifest could not be written, the process's exit
// status becomes 1 (the RuntimeApplication's ExitStatus).
int32_t ManifestRun();

}  // namespace gen
