// The names of the programs' temporary files. Each program writes a file's
// new bytes to a temporary file beside it first: ~mm<pid>-<n>.tmp (the
// per-folder program) or ~mmt<pid>-<n>.tmp (the tree tool), the process id in
// lower-case hexadecimal, n in decimal. The name tells whose file it is, so a
// later run can remove what a killed process left behind, and a watch can pass
// over the files a run of its own makes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace rules {

enum class TemporaryFileWriter { PerFolderProgram, TreeTool };

// The name of the nth temporary file of the given process.
std::string TemporaryFileName(TemporaryFileWriter writer, os::Dword processId, unsigned long n);

struct TemporaryFileOrigin {
  TemporaryFileWriter writer;
  os::Dword processId;
};

// Whose temporary file name is, for exactly the names TemporaryFileName
// makes: the id in lower-case hexadecimal of at most eight digits with no
// leading zero (a lone 0 aside), n one or more decimal digits, nothing after
// ".tmp". Nothing for any other name, so a user's own file is never taken
// for one of ours.
std::optional<TemporaryFileOrigin> ParseTemporaryFileName(std::string_view name);

// Whether name is one of the programs' temporary files.
bool IsTemporaryFileName(std::string_view name);

}  // namespace rules
