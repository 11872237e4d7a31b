// Temporary files that a run of either program left behind when it was
// killed: ~mmt<pid>-<n>.tmp (the tree tool) and ~mm<pid>-<n>.tmp (the
// per-folder program), the process id in hexadecimal. A later run removes
// those whose process no longer runs; a running process's files are never
// touched.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/folder_access.h"

namespace tree {

struct RunState;

// The process id in the name of one of the programs' temporary files, or
// nothing for any other name.
std::optional<unsigned long> TemporaryFileProcess(std::string_view name);

// Removes from the listed folder the programs' temporary files whose process
// has ended, counting and reporting each.
void RemoveLeftoverFiles(RunState& run, const os::FolderHandle& folder,
                         const std::vector<os::ListedEntry>& listed, const std::string& shown);

}  // namespace tree
