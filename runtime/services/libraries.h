// The two support libraries the program lists: the core library, whose
// commands are the runtime commands, and the special-functions library.
#pragma once

#include "runtime/host/program_description.h"

namespace rt {

extern const LibraryDescriptor CoreLibrary;
extern const LibraryDescriptor SpecialFunctionsLibrary;

// The host-request entry the core library stored through its LibraryNotify
// (null until start-up tells it); a command reaches the host only through it.
intptr_t CoreHostRequest(int32_t code, intptr_t a, intptr_t b);

}  // namespace rt
