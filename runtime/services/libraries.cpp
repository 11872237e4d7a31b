// The program's two support libraries. Each keeps its own copy of the host's
// request entry, which start-up hands over through the library's notification
// entry (notice 1); the core library's commands reach the host only through
// that copy.
#include "runtime/services/libraries.h"

#include "runtime/services/command.h"
#include "runtime/values/value_memory.h"

namespace rt {

namespace {

constexpr uint32_t kFormatStamp = 20000101;

// Notices a library receives.
constexpr int32_t kNoticeHostEntry = 1;
constexpr int32_t kNoticeEndOfRun = 6;

HostRequestFn g_coreHost = nullptr;
HostRequestFn g_specialHost = nullptr;

intptr_t CoreNotify(int32_t code, intptr_t a, intptr_t) {
  switch (code) {
    case kNoticeHostEntry:
      g_coreHost = reinterpret_cast<HostRequestFn>(a);
      return 0;
    // Notices the core library takes; it has nothing to do for them here.
    case 2:
    case 10:
    case 11:
    case 12:
    case 13:
      return 0;
    default:
      return -1;
  }
}

intptr_t SpecialNotify(int32_t code, intptr_t a, intptr_t) {
  switch (code) {
    case kNoticeHostEntry:
      g_specialHost = reinterpret_cast<HostRequestFn>(a);
      return 0;
    case kNoticeEndOfRun:
      return 0;
    default:
      return -1;
  }
}

// The core library's commands, in the order of its command list.
const void* const kCoreCommands[] = {
    reinterpret_cast<const void*>(&GetProgramDirectory),
    reinterpret_cast<const void*>(&RightText),
    reinterpret_cast<const void*>(&ToByteBlock),
    reinterpret_cast<const void*>(&WriteToFile),
};

// The core library's data types: 51 records of 56 bytes, all zero in this
// program.
constexpr uint32_t kCoreDataTypeCount = 51;
const unsigned char kCoreDataTypes[kCoreDataTypeCount * 56] = {};

// Display names, GBK: "系统核心支持库" and "特殊功能支持库".
const char kCoreName[] = "\xCF\xB5\xCD\xB3\xBA\xCB\xD0\xC4\xD6\xA7\xB3\xD6\xBF\xE2";
const char kSpecialName[] = "\xCC\xD8\xCA\xE2\xB9\xA6\xC4\xDC\xD6\xA7\xB3\xD6\xBF\xE2";

}  // namespace

const LibraryDescriptor CoreLibrary = {
    kFormatStamp,
    "6D6D5F636F72655F6C69627261727931",
    {1, 0, 0, 0, 0, 0, 0},
    kCoreName,
    {0, 0},
    0xC0000001u,
    {},
    kCoreDataTypeCount,
    kCoreDataTypes,
    {},
    sizeof kCoreCommands / sizeof kCoreCommands[0],
    0,
    kCoreCommands,
    {},
    &CoreNotify,
    {},
};

const LibraryDescriptor SpecialFunctionsLibrary = {
    kFormatStamp,
    "6D6D5F7370656369616C5F66756E6373",
    {1, 0, 0, 0, 0, 0, 0},
    kSpecialName,
    {0, 0},
    0xC0000000u,
    {},
    0,
    nullptr,
    {},
    0,
    0,
    nullptr,
    {},
    &SpecialNotify,
    {},
};

intptr_t CoreHostRequest(int32_t code, intptr_t a, intptr_t b) {
  return g_coreHost == nullptr ? 0 : g_coreHost(code, a, b);
}

char* CommandResultBlock(int32_t size) {
  void* p = reinterpret_cast<void*>(CoreHostRequest(kRequestAllocate, size, 0));
  return static_cast<char*>(p != nullptr ? p : AllocateBlock(size));
}

}  // namespace rt
