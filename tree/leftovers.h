// Temporary files that a run of either program left behind when it was
// killed (their names: rules/temporary_file_name.h). A later run removes
// those whose process no longer runs; a running process's files are never
// touched.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/folder_access.h"

namespace tree {

struct RunState;

// Removes from the listed folder the programs' temporary files whose process
// has ended, counting and reporting each.
void RemoveLeftoverFiles(RunState& run, const os::FolderHandle& folder,
                         const std::vector<os::ListedEntry>& listed, const std::string& shown);

}  // namespace tree
