// The application framework over the test fake: the order of its hooks, the
// exit status it returns, its message pump and the undoing of its class
// registrations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/app_framework.h"
#include "tests/fake/fake_platform.h"

namespace {

std::vector<std::string> g_procLog;

intptr_t OS_CALLBACK RecordingProc(os::Handle, uint32_t message, uintptr_t wParam, intptr_t) {
  g_procLog.push_back(std::to_string(message) + ":" + std::to_string(wParam));
  return 0;
}

class HookApp : public os::WinApp {
 public:
  int initApplication = 1;
  int initInstance = 0;
  int exitResult = 7;
  bool baseExit = false;
  std::vector<std::string> hooks;
  std::vector<long> idleCounts;
  os::Handle window = nullptr;

  int InitApplication() override {
    hooks.push_back("InitApplication");
    return initApplication;
  }
  int InitInstance() override {
    hooks.push_back("InitInstance");
    return initInstance;
  }
  int ExitInstance() override {
    hooks.push_back("ExitInstance");
    return baseExit ? WinApp::ExitInstance() : exitResult;
  }
  int Run() override {
    hooks.push_back("Run");
    return WinApp::Run();
  }
  // First idle round: a message for the window, and more idle work wanted.
  // Once that message is handled idle work starts again; then quit with 3.
  int OnIdle(long count) override {
    idleCounts.push_back(count);
    if (idleCounts.size() == 1) {
      os::Os().PostMessageA(window, os::kWmApp + 1, 11, 0);
      return 1;
    }
    os::Os().PostQuitMessage(3);
    return 0;
  }
};

os::WndClassA FrameworkClass(const char* name) {
  os::WndClassA wc{};
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = name;
  return wc;
}

TEST(Framework, FailedInstanceStartGoesStraightToExitWhoseResultIsTheStatus) {
  fake::FakePlatform fake;
  fake.errorMode = 0x0004;
  HookApp app;
  ASSERT_EQ(os::CurrentApp(), &app);
  ASSERT_NE(os::RegisterFrameworkClass(FrameworkClass("FrameworkA")), 0);
  ASSERT_NE(os::RegisterFrameworkClass(FrameworkClass("FrameworkB")), 0);
  EXPECT_TRUE(app.m_windowMapAlive);

  EXPECT_EQ(os::FrameworkMain(reinterpret_cast<os::Handle>(0x400000), "ignored args", 5), 7);
  EXPECT_EQ(app.hooks, (std::vector<std::string>{"InitApplication", "InitInstance",
                                                 "ExitInstance"}));
  // The old error mode is kept and the two no-box bits are added.
  EXPECT_EQ(fake.errorMode, 0x8005u);
  EXPECT_LT(fake.IndexOf("SetErrorMode"), fake.IndexOf("UnregisterClassA"));
  EXPECT_EQ(app.m_hInstance, reinterpret_cast<os::Handle>(0x400000));
  EXPECT_STREQ(app.m_lpCmdLine, "ignored args");
  EXPECT_EQ(app.m_nCmdShow, 5);
  // Termination undid both registrations and the window map is gone.
  EXPECT_TRUE(fake.classes.empty());
  EXPECT_EQ(fake.CallCount("UnregisterClassA"), 2);
  EXPECT_FALSE(app.m_windowMapAlive);
  // A second termination has nothing left to undo.
  os::TerminateFramework();
  EXPECT_EQ(fake.CallCount("UnregisterClassA"), 2);
}

TEST(Framework, BaseExitReturnsTheLastMessageParameterWhichIsZeroWithoutMessages) {
  fake::FakePlatform fake;
  HookApp app;
  app.baseExit = true;
  EXPECT_EQ(os::FrameworkMain(nullptr, nullptr, 10), 0);
  EXPECT_STREQ(app.m_lpCmdLine, "");
}

TEST(Framework, FailedApplicationStartEndsWithMinusOneAndRunsNoFurtherHook) {
  fake::FakePlatform fake;
  HookApp app;
  app.initApplication = 0;
  EXPECT_EQ(os::FrameworkMain(nullptr, "", 10), -1);
  EXPECT_EQ(app.hooks, std::vector<std::string>{"InitApplication"});
}

TEST(Framework, RunPumpsWithIdleWorkUntilQuitAndExitsWithTheQuitCode) {
  fake::FakePlatform fake;
  g_procLog.clear();
  HookApp app;
  app.initInstance = 1;
  app.baseExit = true;
  ASSERT_NE(os::RegisterFrameworkClass(FrameworkClass("FrameworkRun")), 0);
  app.window = fake.table().CreateWindowExA(0, "FrameworkRun", "", 0, 0, 0, 0, 0, nullptr,
                                            nullptr, nullptr, nullptr);
  ASSERT_NE(app.window, nullptr);

  EXPECT_EQ(os::FrameworkMain(nullptr, "", 10), 3);
  EXPECT_EQ(app.hooks, (std::vector<std::string>{"InitApplication", "InitInstance", "Run",
                                                 "ExitInstance"}));
  // Idle work ran before the message and, counted afresh, after it.
  EXPECT_EQ(app.idleCounts, (std::vector<long>{0, 0}));
  EXPECT_EQ(g_procLog, std::vector<std::string>{std::to_string(os::kWmApp + 1) + ":11"});
  EXPECT_EQ(app.m_msgCur.message, os::kWmQuit);
  EXPECT_TRUE(fake.queue.empty());
}

TEST(Framework, CurrentAppIsTheNewestLiveApplication) {
  EXPECT_EQ(os::CurrentApp(), nullptr);
  {
    auto* first = new HookApp;
    auto* second = new HookApp;
    EXPECT_EQ(os::CurrentApp(), second);
    delete first;  // out of order: the newer stays current
    EXPECT_EQ(os::CurrentApp(), second);
    auto* third = new HookApp;
    EXPECT_EQ(os::CurrentApp(), third);
    delete third;
    EXPECT_EQ(os::CurrentApp(), second);
    delete second;
  }
  EXPECT_EQ(os::CurrentApp(), nullptr);
}

}  // namespace
