// The end of the run over the fake platform: the clean-up's order, its second
// pass, the end request from another thread, FinishRun and the message loop.
#include "runtime/host/end_of_run.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/host/runtime_application.h"
#include "runtime/host/service_table.h"
#include "runtime/host/startup.h"
#include "tests/host/host_fixture.h"

namespace {

using hosttest::Events;
using hosttest::HostTest;

void EndOfRunRoutine() { Events().push_back("end-of-run routine"); }

class EndOfRunTest : public HostTest {
 protected:
  rt::RuntimeApplication& Started() {
    rt::RuntimeApplication& a = MakeApp();
    rt::InitRuntime();
    rt::SetEndOfRunHandler(EndOfRunRoutine);
    fake.calls.clear();
    Events().clear();
    return a;
  }
};

TEST_F(EndOfRunTest, NormalEndCleansUpTwiceAndTheSecondPassDoesNothing) {
  rt::RuntimeApplication& a = Started();
  rt::FinishRun();
  EXPECT_EQ(a.RunFinished, 1u);
  // No window unit: FinishRun leaves the message queue alone.
  EXPECT_TRUE(fake.calls.empty());

  EXPECT_EQ(a.ExitInstance(), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{"end-of-run routine", "first 6 0 0",
                                                "second 6 0 0"}));
  EXPECT_EQ(fake.CallCount("DestroyWindow"), 1);
  EXPECT_EQ(fake.CallCount("OleUninitialize"), 1);
  EXPECT_LT(fake.IndexOf("DestroyWindow"), fake.IndexOf("OleUninitialize"));
  EXPECT_EQ(fake.oleDepth, 0);
  EXPECT_TRUE(fake.windows.empty());
  EXPECT_TRUE(a.StaticRangeList.empty());
  EXPECT_TRUE(a.LibraryList.empty());
  EXPECT_EQ(a.EndOfRunHandler, nullptr);
  EXPECT_EQ(a.EventSuppressCount, 1);
  EXPECT_EQ(a.CleanupRunning, 1u);

  // The destruction of the application runs the clean-up again: nothing is
  // released, called or notified.
  fake.calls.clear();
  Events().clear();
  app.reset();
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(fake.oleDepth, 0);
}

TEST_F(EndOfRunTest, EndProgramCleansUpThenExitsWithItsCode) {
  rt::RuntimeApplication& a = Started();
  EXPECT_EQ(fake::ExpectExit([] { rt::EndProgram(7); }), 7u);
  EXPECT_EQ(Events().front(), "end-of-run routine");
  EXPECT_EQ(fake.calls.back(), "ExitProcess 7");
  EXPECT_EQ(a.OleInitialised, 0u);
  // Reached through the service table as well.
  fake.calls.clear();
  auto endProgram = rt::Service<void (*)(int32_t)>(rt::kSlotEndProgram);
  EXPECT_EQ(fake::ExpectExit([&] { endProgram(-3); }), static_cast<uint32_t>(-3));
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"ExitProcess 4294967293"}));
}

// What the clean-up gives back and in which order, over lists that this
// program never fills.
struct Closing : rt::LiveObject {
  std::string name;
  bool fail;
  Closing(std::string n, bool f) : name(std::move(n)), fail(f) {}
  void Close() override {
    Events().push_back("close " + name);
    if (fail) throw std::runtime_error("close failed");
  }
  ~Closing() override { Events().push_back("delete " + name); }
};
struct Owned : rt::OwnedObject {
  ~Owned() override { Events().push_back("owned deleted"); }
};
void Unregister(const std::string& path) { Events().push_back("unregister " + path); }
void IdleRoutine(intptr_t) { Events().push_back("idle"); }
void RemovePlayer(void* player) { Events().push_back(player != nullptr ? "remove player" : "?"); }
intptr_t ResolveRemovePlayer(intptr_t name) {
  return std::string(reinterpret_cast<const char*>(name)) == "RemovePlayer"
             ? reinterpret_cast<intptr_t>(&RemovePlayer)
             : 0;
}
intptr_t Yes(intptr_t) { return 1; }

os::Handle FakeHandle(fake::FakePlatform& f, const char* what) {
  os::Handle h = f.NewHandle();
  f.fileHandles_[h] = fake::FakePlatform::OpenFile{what, {}};
  ++f.openFiles;
  return h;
}

TEST_F(EndOfRunTest, EveryListIsReleasedInOrderAndOnlyOnce) {
  rt::RuntimeApplication& a = Started();
  auto h = [](uintptr_t v) { return reinterpret_cast<os::Handle>(v); };
  a.IdleWindows.push_back(a.EndRequestWindow);
  a.IdleRoutines.push_back(IdleRoutine);
  a.IdleArguments.push_back(0);
  a.WindowUnitTable.push_back(std::make_unique<rt::WindowUnit>());
  a.LibraryValues[1] = 77;
  for (auto& table : a.ExternalLibraryTables) table.assign(2, 0);
  a.ExternalLibraryTables[0][1] = 0x51;  // one of two libraries loaded
  a.ExternalCallModules = {h(0x61)};
  a.ExternalCallNames = {"user32.dll"};
  a.ResolverModule = h(0x61);
  a.ResolverFunctionName = "MessageBeep";
  a.Icons[1] = h(0x71);
  a.LiveObjects = {new Closing("a", true), new Closing("b", false)};
  a.LiveObjectTags = {1, 2};
  a.OwnedObjects = {new Owned};
  a.Hooks[0].Fill(Yes, ResolveRemovePlayer, nullptr);
  static int player;
  a.Player = &player;
  a.BackgroundWorker = FakeHandle(fake, "background worker");
  a.WorkerThreads = {FakeHandle(fake, "worker")};
  a.IconRecords.push_back(std::make_unique<rt::IconRecord>());
  a.IconRecords[0]->icon = h(0x81);
  a.IconRecords[0]->buffer.assign(16, 1);
  a.SocketsStarted = true;
  a.RegisteredTypeLibraries = {{"types.tlb", Unregister}};
  a.RegisteredServers = {{"server.dll", Unregister}};

  rt::EndOfRunCleanup(0);

  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "end-of-run routine", "first 6 0 0", "second 6 77 0", "close a",
                          "delete a", "close b", "delete b", "owned deleted", "remove player",
                          "unregister types.tlb", "unregister server.dll"}));
  EXPECT_EQ(fake.calls, (std::vector<std::string>{
                            "FreeLibrary", "FreeLibrary", "DestroyIcon", "IsWindow",
                            "DestroyWindow", "WaitForSingleObject", "CloseHandle",
                            "WaitForSingleObject", "CloseHandle", "DestroyIcon", "WSACleanup",
                            "OleUninitialize"}));
  EXPECT_TRUE(a.BackgroundStopRequested);
  EXPECT_TRUE(a.WorkersEndRequested);
  EXPECT_EQ(fake.openFiles, 0);
  EXPECT_EQ(a.ResolverModule, nullptr);
  EXPECT_TRUE(a.ResolverFunctionName.empty());
  EXPECT_TRUE(a.IdleWindows.empty() && a.IdleRoutines.empty() && a.IdleArguments.empty());
  EXPECT_TRUE(a.WindowUnitTable.empty());
  for (const auto& table : a.ExternalLibraryTables) EXPECT_TRUE(table.empty());
  EXPECT_TRUE(a.ExternalCallModules.empty() && a.ExternalCallNames.empty());
  EXPECT_EQ(a.Icons[1], nullptr);
  EXPECT_TRUE(a.LiveObjects.empty() && a.LiveObjectTags.empty() && a.OwnedObjects.empty());
  EXPECT_EQ(a.Player, nullptr);
  EXPECT_TRUE(a.WorkerThreads.empty() && a.IconRecords.empty());
  EXPECT_TRUE(a.RegisteredTypeLibraries.empty() && a.RegisteredServers.empty());

  fake.calls.clear();
  Events().clear();
  rt::EndOfRunCleanup(0);
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(a.EventSuppressCount, 2);
}

void EndingRoutine() {
  Events().push_back("ending routine");
  rt::EndProgram(5);
}

TEST_F(EndOfRunTest, EndOfRunRoutineThatEndsTheProgramRunsOnce) {
  Started();
  rt::SetEndOfRunHandler(EndingRoutine);
  EXPECT_EQ(fake::ExpectExit([] { rt::EndProgram(0); }), 5u);
  EXPECT_EQ(Events(), (std::vector<std::string>{"ending routine", "first 6 0 0", "second 6 0 0"}));
}

// The fake runs every call on the test's thread. A SendMessageA that switches
// to the main thread's identifier while the window handles the message
// stands for the platform delivering it to the main thread.
os::Platform g_crossThread;
intptr_t DeliverOnMainThread(os::Handle hwnd, uint32_t message, uintptr_t w, intptr_t l) {
  fake::FakePlatform& f = fake::FakePlatform::Current();
  os::Dword caller = f.threadId;
  f.threadId = 1;
  intptr_t result = f.table().SendMessageA(hwnd, message, w, l);
  f.threadId = caller;
  return result;
}

TEST_F(EndOfRunTest, EndProgramOnAnotherThreadEndsThroughTheMainThread) {
  rt::RuntimeApplication& a = Started();
  g_crossThread = fake.table();
  g_crossThread.SendMessageA = DeliverOnMainThread;
  const os::Platform* previous = os::InstallPlatform(&g_crossThread);
  fake.threadId = 2;
  uint32_t code = fake::ExpectExit([] { rt::EndProgram(42); });
  os::InstallPlatform(previous);
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(fake.CallCount("SendMessageA 33767"), 1);
  EXPECT_EQ(fake.CallCount("ExitProcess"), 1);
  // The clean-up ran once, for the main thread.
  EXPECT_EQ(Events(), (std::vector<std::string>{"end-of-run routine", "first 6 0 0",
                                                "second 6 0 0"}));
  EXPECT_EQ(a.CleanupRunning, 1u);
}

TEST_F(EndOfRunTest, AnotherThreadWithoutTheWindowExitsAtOnceWithoutCleanUp) {
  rt::RuntimeApplication& a = Started();
  os::Os().DestroyWindow(a.EndRequestWindow);
  fake.calls.clear();
  fake.threadId = 2;
  EXPECT_EQ(fake::ExpectExit([] { rt::EndProgram(9); }), 9u);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"IsWindow", "ExitProcess 9"}));
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(fake.oleDepth, 1);

  // While the main thread is cleaning up, another thread's clean-up returns.
  a.CleanupRunning = 1;
  fake.calls.clear();
  rt::EndOfRunCleanup(3);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"IsWindow"}));
  fake.threadId = 1;
}

void DestroyUnitWindow(intptr_t window) {
  Events().push_back("idle destroys the window");
  os::Os().DestroyWindow(reinterpret_cast<os::Handle>(window));
}

TEST_F(EndOfRunTest, FinishRunWaitsUntilTheLastWindowUnitCloses) {
  // One unit, loaded as the start-up window; an idle callback closes it.
  rt::RuntimeApplication& a = Started();
  a.WindowUnitTable.push_back(std::make_unique<rt::WindowUnit>());
  a.WindowUnitTable[0]->id = 1;
  a.WindowUnitTable[0]->caption = "Main";
  rt::Service<void (*)(int32_t)>(rt::kSlotLoadStartupWindow)(1);
  os::Handle window = a.WindowUnitTable[0]->window;
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(rt::AnyWindowOpen(), 1);
  a.IdleWindows.push_back(window);
  a.IdleRoutines.push_back(DestroyUnitWindow);
  a.IdleArguments.push_back(reinterpret_cast<intptr_t>(window));

  rt::FinishRun();
  EXPECT_EQ(Events(), (std::vector<std::string>{"idle destroys the window"}));
  EXPECT_EQ(rt::AnyWindowOpen(), 0);
  EXPECT_EQ(fake.CallCount("PostQuitMessage 0"), 1);
  EXPECT_TRUE(fake.queue.empty());
  // The closed window's callback stays until the clean-up releases it.
  rt::EndOfRunCleanup(0);
  EXPECT_TRUE(a.IdleWindows.empty());
}

}  // namespace

namespace {

TEST_F(EndOfRunTest, ApplicationTornDownOutOfOrderCleansUpItself) {
  rt::RuntimeApplication& first = Started();
  auto second = std::make_unique<rt::RuntimeApplication>(program.image);
  app.reset();  // the first goes while the second is current
  EXPECT_EQ(Events().front(), "end-of-run routine");
  EXPECT_EQ(fake.oleDepth, 0);
  EXPECT_EQ(&rt::App(), second.get());
  EXPECT_EQ(second->CleanupRunning, 0u);
  second.reset();
  (void)first;
}

}  // namespace
