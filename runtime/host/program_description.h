// The read-only tables a program carries for the runtime: what it holds
// (ProgramDescription), which support libraries it uses (LibraryDescriptor),
// and the routines start-up needs from it (ProgramImage).
//
// The records are word arrays laid out exactly as the 32-bit program has them;
// on a 64-bit build only the words that hold addresses widen.
#pragma once

#include <cstdint>

namespace rt {

// LibraryNotify: a support library's notification entry.
using LibraryNotifyFn = intptr_t (*)(int32_t code, intptr_t a, intptr_t b);
// HostRequest: the runtime's numbered host-request entry.
using HostRequestFn = intptr_t (*)(int32_t code, intptr_t a, intptr_t b);

// One support library, 36 words.
struct LibraryDescriptor {
  uint32_t formatStamp;          // 0: 20000101
  const char* identity;          // 1: 32 hexadecimal digits
  uint32_t version[7];           // 2-8
  const char* displayName;       // 9: GBK text
  uint32_t descriptive[2];       // 10-11
  uint32_t flags;                // 12
  uint32_t zero13[8];            // 13-20
  uint32_t dataTypeCount;        // 21
  const void* dataTypes;         // 22: records of 56 bytes
  uint32_t zero23[2];            // 23-24
  uint32_t commandCount;         // 25
  uint32_t zero26;               // 26
  const void* const* commands;   // 27: command addresses
  uint32_t zero28[2];            // 28-29
  LibraryNotifyFn notify;        // 30
  uint32_t zero31[5];            // 31-35
};

// What the program carries for the runtime, 13 words.
struct ProgramDescription {
  int32_t runMode;                                 // 0
  int32_t secondMode;                              // 1
  int32_t identifierSeed;                          // 2
  const void* codeBase;                            // 3
  const void* constantData;                        // 4
  uint32_t constantLength;                         // 5
  const void* windowUnits;                         // 6: serialised WindowUnitTable
  uint32_t windowUnitsLength;                      // 7
  uint32_t libraryCount;                           // 8
  const LibraryDescriptor* const* libraries;       // 9
  uint32_t externalLibraryCount;                   // 10
  const uint32_t* externalTable1;                  // 11
  const uint32_t* externalTable2;                  // 12
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(LibraryDescriptor) == 36 * 4, "a LibraryDescriptor is 36 words");
static_assert(sizeof(ProgramDescription) == 13 * 4, "a ProgramDescription is 13 words");
#endif

// HookSlot routines: the initialiser and the handler take one argument and
// return a word; the finaliser takes none.
using HookRoutine = intptr_t (*)(intptr_t argument);
using HookFinaliser = void (*)();

// The program's own routines that start-up calls.
struct ProgramImage {
  const ProgramDescription* description;
  int32_t (*entry)();    // ProgramEntry
  HookRoutine stubA;     // returns 0
  HookFinaliser stubB;   // returns at once
};

}  // namespace rt
