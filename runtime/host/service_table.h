// The fixed contract between the program's compiled code and the runtime:
// the ServiceTable (13 slots) and the HelperTable (7 entries). The program
// calls slot n and entry n and nothing else, so the order of both tables is
// fixed. A slot holds a routine's address; the caller knows each slot's type
// (below) and calls through it.
#pragma once

#include <cstdint>

#include "runtime/services/command.h"

namespace rt {

using ServiceEntry = void (*)();

extern const ServiceEntry ServiceTable[13];
extern const ServiceEntry HelperTable[7];

// Slot numbers.
enum ServiceSlot : int32_t {
  kSlotRaiseRuntimeError = 0,   // void (int32_t code), never returns
  kSlotCallExternal = 1,        // not used by this program
  kSlotCallCommand2 = 2,        // ArgRecord (Command, int32_t, const ArgRecord*)
  kSlotCallCommand = 3,         // ArgRecord (Command, int32_t, const ArgRecord*)
  kSlotWindowAccess4 = 4,       // not used by this program
  kSlotWindowAccess5 = 5,       // not used by this program
  kSlotAllocateBlock = 6,       // void* (int32_t size)
  kSlotResizeBlock = 7,         // void* (void* block, int32_t size)
  kSlotReleaseBlock = 8,        // void (void* block)
  kSlotEndProgram = 9,          // void (int32_t code), never returns
  kSlotFinishRun = 10,          // void ()
  kSlotLoadStartupWindow = 11,  // void (int32_t number)
  kSlotHelper = 12,             // ServiceEntry (int32_t n): HelperTable entry n
};

enum HelperEntry : int32_t {
  kHelperFindFile = 0,            // char* (const char*, int32_t mask, int32_t maskOmitted, void** state)
  kHelperCloseSearch = 1,         // void (void* handle)
  kHelperArrayMakePrivate = 2,    // void (int32_t width, void** variable)
  kHelperSetEndOfRunHandler = 3,  // void (void (*)())
  kHelperDataType4 = 4,           // not used by this program
  kHelperDataType5 = 5,           // not used by this program
  kHelperInitRuntime = 6,         // void ()
};

// Slot 12: continues in HelperTable entry n. In C++ the continuation is the
// caller's call through the address this hands back.
ServiceEntry HelperDispatch(int32_t n);

// The address in slot `slot`, typed by the caller: Service<void* (*)(int32_t)>(kSlotAllocateBlock).
template <typename Fn>
Fn Service(int32_t slot) {
  return reinterpret_cast<Fn>(ServiceTable[slot]);
}
template <typename Fn>
Fn Helper(int32_t n) {
  auto dispatch = reinterpret_cast<ServiceEntry (*)(int32_t)>(ServiceTable[kSlotHelper]);
  return reinterpret_cast<Fn>(dispatch(n));
}

}  // namespace rt
