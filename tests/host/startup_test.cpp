// Start-up over the fake platform: the order of its steps, the values it
// stores, the libraries' notices, the window-unit table, and the framework's
// two hooks.
#include "runtime/host/startup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/host/end_of_run.h"
#include "runtime/host/runtime_application.h"
#include "runtime/services/command.h"
#include "tests/host/host_fixture.h"

namespace {

using hosttest::Events;
using hosttest::HostTest;

const std::string kHeading = "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n";
const std::string kMessageLabel = "\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA";
const std::string kTableLoadFailure =
    "\xD4\xD8\xC8\xEB\xB4\xB0\xBF\xDA\xC4\xA3\xB0\xE5\xCA\xFD\xBE\xDD\xB6\xCE\xB3\xF6\xB4\xED!";

using StartupTest = HostTest;

TEST_F(StartupTest, StepsRunInOrderAndFillTheApplication) {
  rt::RuntimeApplication& a = MakeApp();
  rt::InitRuntime();

  const std::vector<std::string> order = {
      "GetProcessHeap",     "OleInitialize",        "GetModuleFileNameA",
      "SetCurrentDirectoryA C:\\Tools\\Gen",         "LoadCursorA 32512",
      "GetStockObject 5",   "RegisterClassA",       "CreateWindowExA 128 0"};
  int last = -1;
  for (const std::string& call : order) {
    int at = fake.IndexOf(call);
    EXPECT_GT(at, last) << call;
    last = at;
  }
  EXPECT_EQ(fake.CallCount("OleInitialize"), 1);
  EXPECT_EQ(fake.oleDepth, 1);

  EXPECT_EQ(a.RunMode, 3);
  EXPECT_EQ(a.NextIdentifier, 65559);
  EXPECT_EQ(a.ProgramDirectory, "C:\\Tools\\Gen");
  EXPECT_EQ(a.MainThreadId, fake.threadId);
  EXPECT_EQ(a.OleInitialised, 1u);
  EXPECT_NE(a.RuntimeHeap, nullptr);
  for (const rt::HookSlot& slot : a.Hooks) {
    EXPECT_EQ(slot.initialiser, &hosttest::StubA);
    EXPECT_EQ(slot.handler, &hosttest::StubA);
    EXPECT_EQ(slot.finaliser, &hosttest::StubB);
  }
  // The hidden window: never shown, a tool window, and nothing else exists.
  ASSERT_EQ(fake.windows.size(), 1u);
  EXPECT_EQ(fake.windows.begin()->first, a.EndRequestWindow);

  ASSERT_EQ(a.StaticRangeList.size(), 2u);
  EXPECT_EQ(a.StaticRangeList[0], reinterpret_cast<uintptr_t>(hosttest::kConstantData));
  EXPECT_EQ(a.StaticRangeList[1] - a.StaticRangeList[0], sizeof hosttest::kConstantData);

  // Both libraries learn the host-request entry; the list and values follow.
  const std::string entry = std::to_string(reinterpret_cast<intptr_t>(&rt::HostRequest));
  EXPECT_EQ(Events(), (std::vector<std::string>{"first 1 " + entry + " 0",
                                                "second 1 " + entry + " 0"}));
  EXPECT_EQ(a.LibraryList, (std::vector<const rt::LibraryDescriptor*>{&program.first,
                                                                      &program.second}));
  EXPECT_EQ(a.LibraryValues, (std::vector<uint32_t>{0, 0}));
  EXPECT_TRUE(a.WindowUnitTable.empty());
  EXPECT_EQ(fake.boxes.size(), 0u);
}

TEST_F(StartupTest, NoStaticRangeForEmptyConstantDataAndNoOleTwice) {
  program.description.constantLength = 0;
  rt::RuntimeApplication& a = MakeApp();
  a.OleInitialised = 1;  // the apartment was entered already
  rt::InitRuntime();
  EXPECT_TRUE(a.StaticRangeList.empty());
  EXPECT_EQ(fake.CallCount("OleInitialize"), 0);
}

rt::ProgramDescription* g_growing = nullptr;
intptr_t NotifyAndGrow(int32_t code, intptr_t a, intptr_t b) {
  Events().push_back("grow " + std::to_string(code));
  if (code == 1 && g_growing->libraryCount == 1) g_growing->libraryCount = 2;
  (void)a;
  (void)b;
  return 0;
}

TEST_F(StartupTest, LibraryCountIsReadAgainAfterEveryNotice) {
  program.description.libraryCount = 1;
  program.first.notify = NotifyAndGrow;
  g_growing = &program.description;
  rt::RuntimeApplication& a = MakeApp();
  rt::InitRuntime();
  ASSERT_EQ(Events().size(), 2u);
  EXPECT_EQ(Events()[0], "grow 1");
  EXPECT_EQ(Events()[1].rfind("second 1 ", 0), 0u);
  EXPECT_EQ(a.LibraryList.size(), 2u);
}

TEST_F(StartupTest, LibraryWithoutNotifyEntryIsListedButNotCalled) {
  program.first.notify = nullptr;
  program.libraries[1] = nullptr;
  rt::RuntimeApplication& a = MakeApp();
  rt::InitRuntime();
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(a.LibraryList, (std::vector<const rt::LibraryDescriptor*>{&program.first, nullptr}));
  rt::EndOfRunCleanup(0);
  EXPECT_TRUE(Events().empty());
}

// Serialises a table in the stored layout.
struct UnitTableBytes {
  std::vector<uint8_t> bytes;
  void Word(uint32_t w) {
    uint8_t b[4];
    std::memcpy(b, &w, 4);
    bytes.insert(bytes.end(), b, b + 4);
  }
  void Text(const std::string& t) {
    bytes.insert(bytes.end(), t.begin(), t.end());
    bytes.push_back(0);
  }
};

TEST_F(StartupTest, WindowUnitTableIsLoadedWithHandlerAddresses) {
  UnitTableBytes t;
  t.Word(16);  // two units: numbers, then the address half
  t.Word(7);
  t.Word(9);
  t.Word(0);
  t.Word(0);
  t.Text("Main");
  t.Text("Hello");
  t.Word(2);
  t.Word(0x10);
  t.Word(0xFFFFFFFFu);
  t.Text("Other");
  t.Text("");
  t.Word(0);
  static const char code[0x20] = {};
  program.description.codeBase = code;
  program.description.windowUnits = t.bytes.data();
  program.description.windowUnitsLength = static_cast<uint32_t>(t.bytes.size());
  rt::RuntimeApplication& a = MakeApp();
  rt::InitRuntime();
  ASSERT_EQ(a.WindowUnitTable.size(), 2u);
  const rt::WindowUnit& main = *a.WindowUnitTable[0];
  EXPECT_EQ(main.id, 7u);
  EXPECT_EQ(main.name, "Main");
  EXPECT_EQ(main.caption, "Hello");
  EXPECT_EQ(main.handlers, (std::vector<const void*>{code + 0x10, nullptr}));
  EXPECT_EQ(main.window, nullptr);
  EXPECT_EQ(a.WindowUnitTable[1]->id, 9u);
  EXPECT_EQ(a.WindowUnitTable[1]->name, "Other");
  EXPECT_EQ(rt::AnyWindowOpen(), 0);  // no unit is loaded
}

TEST_F(StartupTest, MalformedWindowUnitTableIsAReportedError) {
  std::vector<std::vector<uint8_t>> bad;
  bad.push_back({0, 0, 0});                    // shorter than its count
  bad.push_back({8, 0, 0, 0, 1, 0, 0});        // index cut short
  bad.push_back({4, 0, 0, 0, 1, 0, 0, 0});     // index not whole units
  bad.push_back({8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 'a', 'b'});  // name without its end
  {
    UnitTableBytes t;
    t.Word(8);
    t.Word(1);
    t.Word(0);
    t.Text("a");
    t.Text("b");
    t.Word(1000);  // more handlers than bytes
    t.Word(0);
    bad.push_back(t.bytes);
  }
  for (const auto& bytes : bad) {
    fake.boxes.clear();
    program.description.windowUnits = bytes.data();
    program.description.windowUnitsLength = static_cast<uint32_t>(bytes.size());
    rt::RuntimeApplication& a = MakeApp();
    EXPECT_EQ(fake::ExpectExit([] { rt::InitRuntime(); }), 0xFFFFFFFFu);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, kHeading + kMessageLabel + kTableLoadFailure + "\r\n");
    EXPECT_TRUE(a.WindowUnitTable.empty());
    app.reset();
  }
}

int32_t g_entryResult = 0;
int32_t Entry() {
  Events().push_back("entry");
  return g_entryResult;
}

TEST_F(StartupTest, InstanceInitialisationCallsTheProgramEntry) {
  program.image.entry = Entry;
  g_entryResult = 0;
  fake.modulePath = "D:\\Mods\\Data\\modmanifest.exe";
  rt::RuntimeApplication& a = MakeApp();
  EXPECT_EQ(a.InitInstance(), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{"entry"}));
  EXPECT_EQ(a.ProgramFolderWithSeparator, "D:\\Mods\\Data\\");
  EXPECT_EQ(a.Hooks[1].handler, &hosttest::StubA);
  EXPECT_EQ(a.Hooks[0].handler, nullptr);
  g_entryResult = 1;
  EXPECT_EQ(a.InitInstance(), 1);
}

TEST_F(StartupTest, FolderWithSeparatorFollowsTheCodePageAndLength) {
  rt::RuntimeApplication& a = MakeApp();
  // Under code page 936, 0x5C after a lead byte belongs to the character.
  fake.ansiCodePage = 936;
  fake.modulePath = "C:\\A\x81\\b\\tool.exe";
  a.InitInstance();
  EXPECT_EQ(a.ProgramFolderWithSeparator, "C:\\A\x81\\b\\");
  fake.modulePath = "C:\\A\x81\\tool.exe";
  a.InitInstance();
  EXPECT_EQ(a.ProgramFolderWithSeparator, "C:\\");
  fake.ansiCodePage = 1252;
  a.InitInstance();
  EXPECT_EQ(a.ProgramFolderWithSeparator, "C:\\A\x81\\");

  fake.modulePath = "tool.exe";
  a.InitInstance();
  EXPECT_EQ(a.ProgramFolderWithSeparator, "tool.exe");

  // A path longer than the first buffer is not cut short.
  std::string deep = "C:\\" + std::string(300, 'd') + "\\";
  fake.modulePath = deep + "tool.exe";
  a.InitInstance();
  EXPECT_EQ(a.ProgramFolderWithSeparator, deep);
}

TEST_F(StartupTest, ExitHookCleansUpAndReportsTheRunStatus) {
  rt::RuntimeApplication& a = MakeApp();
  rt::InitRuntime();
  EXPECT_EQ(a.ExitInstance(), 0);
  EXPECT_EQ(fake.oleDepth, 0);
  a.ExitStatus = 1;  // the manifest could not be written
  EXPECT_EQ(a.ExitInstance(), 1);
  a.m_msgCur.wParam = 3;  // a quit code of the framework's own wins
  EXPECT_EQ(a.ExitInstance(), 3);
}

TEST_F(StartupTest, EndRequestWindowEndsTheProgramWithTheRequestedCode) {
  rt::RuntimeApplication& a = MakeApp();
  rt::InitRuntime();
  const os::Platform& p = os::Os();
  EXPECT_EQ(p.SendMessageA(a.EndRequestWindow, 0x0400, 1, 2), 0);  // default handling
  EXPECT_EQ(fake.CallCount("ExitProcess"), 0);
  EXPECT_EQ(fake::ExpectExit([&] { p.SendMessageA(a.EndRequestWindow, rt::kEndRequestMessage, 23, 0); }),
            23u);
  EXPECT_EQ(fake.oleDepth, 0);  // the clean-up ran before the exit
  EXPECT_TRUE(fake.windows.empty());
}

}  // namespace
