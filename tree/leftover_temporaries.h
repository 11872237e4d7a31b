// Temporary files that a run of either program left behind when it was
// killed: ~mmt<pid>-<n>.tmp (the tree tool) and ~mm<pid>-<n>.tmp (the
// per-folder program), the process id in hexadecimal. A later run removes
// those whose process no longer runs; a running process's files are never
// touched.
#pragma once

#include <optional>
#include <string_view>

namespace tree {

// The process id in the name of one of the programs' temporary files, or
// nothing for any other name.
std::optional<unsigned long> TemporaryFileProcess(std::string_view name);

}  // namespace tree
