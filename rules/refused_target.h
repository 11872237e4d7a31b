// Files the programs refuse to replace. Both put a file in place by renaming
// a temporary file over it, which would silently replace a read-only, hidden
// or system file that a plain create refuses; and a folder is never a file to
// write.
#pragma once

#include "platform/platform.h"

namespace rules {

// Why a target with these attributes is not replaced ("is a folder", "is
// read-only", "is hidden", "is a system file", in that order of precedence),
// or null when it may be: a plain file, or none at all
// (os::kInvalidFileAttributes).
const char* RefusedTarget(os::Dword attributes);

}  // namespace rules
