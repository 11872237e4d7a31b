// The command caller, the host requests and the two support libraries'
// notification entries.
#include "runtime/services/command.h"

#include <gtest/gtest.h>

#include "runtime/host/service_table.h"
#include "runtime/services/libraries.h"
#include "tests/values/runtime_fixture.h"

namespace {

using rt::ArgRecord;

class CommandCaller : public testrt::Runtime {};

ArgRecord g_seen[2];
int32_t g_seenCount = 0;
ArgRecord g_incoming{1, 1, 1};

// Records what it is given and writes only the value word.
void Probe(ArgRecord* result, int32_t count, const ArgRecord* args) {
  g_incoming = *result;
  g_seenCount = count;
  for (int32_t i = 0; i < count && i < 2; ++i) g_seen[i] = args[i];
  result->value = 77;
}

TEST_F(CommandCaller, StartsFromAZeroResultAndHandsBackItsThreeWords) {
  const ArgRecord args[2] = {{5, 6, rt::kTagInt64}, {reinterpret_cast<uintptr_t>("x"), 0, rt::kTagText}};
  using Caller = ArgRecord (*)(rt::Command, int32_t, const ArgRecord*);
  for (int32_t slot : {rt::kSlotCallCommand, rt::kSlotCallCommand2}) {
    g_incoming = {1, 1, 1};
    ArgRecord r = rt::Service<Caller>(slot)(&Probe, 2, args);
    EXPECT_EQ(g_incoming.value, 0u);
    EXPECT_EQ(g_incoming.high, 0u);
    EXPECT_EQ(g_incoming.tag, 0u);
    EXPECT_EQ(g_seenCount, 2);
    EXPECT_EQ(g_seen[0].high, 6u);
    EXPECT_EQ(g_seen[1].tag, rt::kTagText);
    EXPECT_EQ(r.value, 77u);
    EXPECT_EQ(r.high, 0u);
    EXPECT_EQ(r.tag, 0u);
  }
}

class HostRequests : public testrt::Runtime {};

TEST_F(HostRequests, GiveTheProgramsFolderFileNameAndRunMode) {
  app.ProgramDirectory = "C:\\Mods\\Data";
  app.ProgramFileName = "modmanifest.exe";
  app.RunMode = 3;
  EXPECT_STREQ(reinterpret_cast<const char*>(rt::HostRequest(2003, 0, 0)), "C:\\Mods\\Data");
  EXPECT_STREQ(reinterpret_cast<const char*>(rt::HostRequest(2004, 0, 0)), "modmanifest.exe");
  EXPECT_EQ(rt::HostRequest(2030, 0, 0), 3);
  // Every code this program has nothing for answers 0.
  for (int32_t code : {0, -1, 999, 1000, 1014, 2000, 2001, 2040, 2041, 3000}) {
    EXPECT_EQ(rt::HostRequest(code, 12, 34), 0) << code;
  }
}

TEST_F(HostRequests, ReachValueMemory) {
  void* p = reinterpret_cast<void*>(rt::HostRequest(2024, 6, 0));
  EXPECT_EQ(fake.BlockSize(p), 6);
  std::memcpy(p, "abcdef", 6);
  p = reinterpret_cast<void*>(rt::HostRequest(2026, reinterpret_cast<intptr_t>(p), 10));
  EXPECT_EQ(fake.BlockSize(p), 10);
  EXPECT_EQ(Bytes(p, 6), "abcdef");
  EXPECT_EQ(rt::HostRequest(2025, reinterpret_cast<intptr_t>(p), 0), 0);
  EXPECT_FALSE(fake.IsLiveBlock(p));
  // Static addresses stay static through the requests too.
  rt::HostRequest(2025, reinterpret_cast<intptr_t>(testrt::kConstants.fixed), 0);
  EXPECT_EQ(fake.CallCount("HeapFree"), 1);

  // Releasing a text array releases its elements; another kind's array only
  // its block.
  void* texts = NewArray();
  rt::ArrayAppend(&texts, "a");
  rt::ArrayAppend(&texts, "b");
  rt::HostRequest(2023, static_cast<intptr_t>(rt::kTagText | rt::kTagArrayBit),
                  reinterpret_cast<intptr_t>(texts));
  void* numbers = NewArray();
  rt::HostRequest(2023, static_cast<intptr_t>(rt::kTagInt32 | rt::kTagArrayBit),
                  reinterpret_cast<intptr_t>(numbers));
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

TEST_F(HostRequests, AllocationModesDifferOnlyWhenTheHeapRefuses) {
  fake.refuseAbove = 1000;
  // A mode other than 0 hands the refusal back.
  EXPECT_EQ(rt::HostRequest(2024, 1001, 1), 0);
  EXPECT_TRUE(fake.boxes.empty());
  void* p = reinterpret_cast<void*>(rt::HostRequest(2024, 16, 1));
  EXPECT_EQ(fake.BlockSize(p), 16);
  rt::HostRequest(2025, reinterpret_cast<intptr_t>(p), 0);
  // Mode 0 is the runtime's own allocation: the process ends.
  EXPECT_EQ(fake::ExpectExit([] { rt::HostRequest(2024, 1001, 0); }), 0xFFFFFFFFu);
  EXPECT_EQ(fake.boxes.size(), 1u);
}

TEST_F(HostRequests, EndProgramEndsWithTheGivenCode) {
  EXPECT_EQ(fake::ExpectExit([] { rt::HostRequest(2028, 7, 0); }), 7u);
  EXPECT_TRUE(fake.boxes.empty());
}

class Libraries : public testrt::Runtime {};

TEST_F(Libraries, DescribeTheCoreLibrarysFourCommands) {
  const rt::LibraryDescriptor& core = rt::CoreLibrary;
  EXPECT_EQ(core.formatStamp, 20000101u);
  EXPECT_EQ(std::strlen(core.identity), 32u);
  EXPECT_EQ(core.flags, 0xC0000001u);
  EXPECT_EQ(core.dataTypeCount, 51u);
  ASSERT_EQ(core.commandCount, 4u);
  EXPECT_EQ(core.commands[0], reinterpret_cast<const void*>(&rt::GetProgramDirectory));
  EXPECT_EQ(core.commands[1], reinterpret_cast<const void*>(&rt::RightText));
  EXPECT_EQ(core.commands[2], reinterpret_cast<const void*>(&rt::ToByteBlock));
  EXPECT_EQ(core.commands[3], reinterpret_cast<const void*>(&rt::WriteToFile));

  const rt::LibraryDescriptor& special = rt::SpecialFunctionsLibrary;
  EXPECT_EQ(special.formatStamp, 20000101u);
  EXPECT_EQ(std::strlen(special.identity), 32u);
  EXPECT_STRNE(special.identity, core.identity);
  EXPECT_EQ(special.flags, 0xC0000000u);
  EXPECT_EQ(special.dataTypeCount, 0u);
  EXPECT_EQ(special.commandCount, 0u);
}

TEST_F(Libraries, AnswerTheNoticesTheyTake) {
  for (int32_t code : {2, 10, 11, 12, 13}) EXPECT_EQ(rt::CoreLibrary.notify(code, 0, 0), 0) << code;
  for (int32_t code : {0, 3, 6, 9, 14, -1}) EXPECT_EQ(rt::CoreLibrary.notify(code, 0, 0), -1) << code;
  EXPECT_EQ(rt::SpecialFunctionsLibrary.notify(6, 0, 0), 0);
  for (int32_t code : {0, 2, 10, 13, -1}) {
    EXPECT_EQ(rt::SpecialFunctionsLibrary.notify(code, 0, 0), -1) << code;
  }
  EXPECT_EQ(rt::SpecialFunctionsLibrary.notify(1, reinterpret_cast<intptr_t>(&rt::HostRequest), 0), 0);
}

int g_requests = 0;
intptr_t g_lastRequest[3];
intptr_t CountingHost(int32_t code, intptr_t a, intptr_t b) {
  ++g_requests;
  g_lastRequest[0] = code;
  g_lastRequest[1] = a;
  g_lastRequest[2] = b;
  return rt::HostRequest(code, a, b);
}

TEST_F(Libraries, CoreCommandsReachTheHostThroughTheStoredEntry) {
  // Until start-up hands the entry over, the library has no host to ask.
  EXPECT_EQ(rt::CoreLibrary.notify(1, 0, 0), 0);
  app.ProgramDirectory = "C:\\x";
  EXPECT_EQ(rt::CoreHostRequest(2003, 0, 0), 0);

  EXPECT_EQ(rt::CoreLibrary.notify(1, reinterpret_cast<intptr_t>(&CountingHost), 0), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(rt::CoreHostRequest(2003, 0, 0)), "C:\\x");
  g_requests = 0;
  const ArgRecord args[2] = {{reinterpret_cast<uintptr_t>("abcdef"), 0, rt::kTagText},
                             {3, 0, rt::kTagInt32}};
  ArgRecord r = rt::CallCommand(&rt::RightText, 2, args);
  EXPECT_EQ(g_requests, 1);
  EXPECT_EQ(g_lastRequest[0], 2024);
  EXPECT_EQ(g_lastRequest[1], 4);
  EXPECT_EQ(g_lastRequest[2], 0);
  EXPECT_STREQ(reinterpret_cast<char*>(r.value), "def");
  rt::ReleaseBlock(reinterpret_cast<void*>(r.value));

  r = rt::CallCommand(&rt::ToByteBlock, 1, args);
  EXPECT_EQ(g_requests, 2);
  EXPECT_EQ(g_lastRequest[1], 14);
  rt::ReleaseBlock(reinterpret_cast<void*>(r.value));

  rt::CoreLibrary.notify(1, reinterpret_cast<intptr_t>(&rt::HostRequest), 0);
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

}  // namespace
