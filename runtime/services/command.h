// The command calling convention: a command takes a result record, an
// argument count and the argument records, laid one after another. Arguments
// are borrowed; a result that refers to a block is new and owned by the
// caller.
#pragma once

#include <cstdint>

namespace rt {

// value: a 32-bit integer, the low half of an 8-byte value, or the address of
// a value that lives in a block; high: the high half of an 8-byte value;
// tag: the kind of the value.
struct ArgRecord {
  uintptr_t value;
  uint32_t high;
  uint32_t tag;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ArgRecord) == 12, "an argument record is three 32-bit words");
#endif

// Type tags.
constexpr uint32_t kTagArrayBit = 0x20000000u;
constexpr uint32_t kTagUInt8 = 0x80000101u;
constexpr uint32_t kTagInt16 = 0x80000201u;
constexpr uint32_t kTagInt32 = 0x80000301u;
constexpr uint32_t kTagInt64 = 0x80000401u;
constexpr uint32_t kTagFloat = 0x80000501u;
constexpr uint32_t kTagDouble = 0x80000601u;
constexpr uint32_t kTagBasic4 = 0x80000002u;
constexpr uint32_t kTagBasic8 = 0x80000003u;
constexpr uint32_t kTagText = 0x80000004u;
constexpr uint32_t kTagByteBlock = 0x80000005u;
constexpr uint32_t kTagBasic4b = 0x80000006u;
constexpr uint32_t kTagBasic8b = 0x80000008u;

using Command = void (*)(ArgRecord* result, int32_t count, const ArgRecord* args);

// ServiceTable slots 2 and 3: zero a fresh result record, call the command,
// hand back the result's three words.
ArgRecord CallCommand(Command command, int32_t count, const ArgRecord* args);

// The runtime's numbered host requests; 0 for a code it does not define.
intptr_t HostRequest(int32_t code, intptr_t a, intptr_t b);

// Host-request codes the runtime's commands and libraries use.
constexpr int32_t kRequestProgramDirectory = 2003;
constexpr int32_t kRequestProgramFileName = 2004;
constexpr int32_t kRequestReleaseArray = 2023;
constexpr int32_t kRequestAllocate = 2024;
constexpr int32_t kRequestRelease = 2025;
constexpr int32_t kRequestResize = 2026;
constexpr int32_t kRequestEndProgram = 2028;
constexpr int32_t kRequestRunMode = 2030;

// The commands of the core library.
void GetProgramDirectory(ArgRecord* result, int32_t count, const ArgRecord* args);
void RightText(ArgRecord* result, int32_t count, const ArgRecord* args);
void ToByteBlock(ArgRecord* result, int32_t count, const ArgRecord* args);
void WriteToFile(ArgRecord* result, int32_t count, const ArgRecord* args);

// Removes the temporary file a WriteToFile in progress has made, if any: a
// runtime error (memory running out) ends the process before WriteToFile
// could remove it itself.
void RemovePendingTemporaryFile();

}  // namespace rt
