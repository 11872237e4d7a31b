// The program's folder: worked out once at start-up from the executable's
// path, and handed to routines by the command GetProgramDirectory (declared
// with the other commands in command.h) through host request 2003.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace rt {

class RuntimeApplication;

struct ModulePathParts {
  std::string directory;  // every byte before the last separator
  std::string fileName;   // every byte after it
};

// Splits an executable's path at its last backslash, scanning by characters
// of codePage: under a double-byte code page a 0x5C that is the second byte
// of a character is not a separator. No separator: an empty directory and the
// whole path as the file name.
ModulePathParts SplitModulePath(std::string_view path, os::Dword codePage);

// Asks the platform for the executable's path (however long it is) and
// stores the split in app.ProgramDirectory and app.ProgramFileName.
void LoadProgramDirectory(RuntimeApplication& app);

}  // namespace rt
