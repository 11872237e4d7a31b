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

// A block of size bytes for a command's result, from the host through the
// core library's stored entry (host request 2024); before start-up has handed
// that entry over, straight from value memory, where the host takes it from.
char* CommandResultBlock(int32_t size);

}  // namespace rt
