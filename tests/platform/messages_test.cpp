// Conformance of window classes, windows and message queues of this build's
// own back-end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

const os::Platform& P() { return os::NativePlatform(); }

constexpr os::Dword kClassAlreadyExists = 1410;
constexpr os::Dword kClassHasWindows = 1412;
const os::Handle kMessageOnly = reinterpret_cast<os::Handle>(static_cast<intptr_t>(-3));

// What the test window procedure saw: the application messages and
// WM_DESTROY, with the thread each arrived on.
struct Seen {
  uint32_t message;
  uintptr_t wParam;
  os::Dword thread;
};
std::vector<Seen> g_seen;
std::atomic<int> g_seenCount{0};

intptr_t OS_CALLBACK TestProc(os::Handle hwnd, uint32_t message, uintptr_t wParam,
                              intptr_t lParam) {
  if (message >= os::kWmApp || message == os::kWmDestroy) {
    g_seen.push_back({message, wParam, P().GetCurrentThreadId()});
    ++g_seenCount;
    return static_cast<intptr_t>(wParam * 2);
  }
  return P().DefWindowProcA(hwnd, message, wParam, lParam);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    g_seenCount = 0;
    os::WndClassA wc{};
    wc.lpfnWndProc = TestProc;
    wc.hInstance = P().GetModuleHandleA(nullptr);
    wc.hCursor = P().LoadCursorA(nullptr, os::kIdcArrow);
    wc.hbrBackground = P().GetStockObject(os::kNullBrush);
    wc.lpszClassName = kClass;
    atom_ = P().RegisterClassA(&wc);
    ASSERT_NE(atom_, 0);
    // A message-only window: Wine without a display makes no other kind.
    hwnd_ = P().CreateWindowExA(os::kWsExToolWindow, kClass, "", 0, 0, 0, 0, 0, kMessageOnly,
                                nullptr, wc.hInstance, nullptr);
    ASSERT_NE(hwnd_, nullptr);
  }
  void TearDown() override {
    if (P().IsWindow(hwnd_)) P().DestroyWindow(hwnd_);
    EXPECT_TRUE(P().UnregisterClassA(kClass, P().GetModuleHandleA(nullptr)));
    // Nothing may stay queued for the next test.
    os::Msg m;
    while (P().PeekMessageA(&m, nullptr, 0, 0, os::kPmRemove)) {
    }
  }
  static constexpr const char* kClass = "mm platform test window";
  uint16_t atom_ = 0;
  os::Handle hwnd_ = nullptr;
};

TEST(WindowResources, StockObjectsAndTheArrowCursorExist) {
  EXPECT_NE(P().GetStockObject(os::kNullBrush), nullptr);
  EXPECT_NE(P().LoadCursorA(nullptr, os::kIdcArrow), nullptr);
  EXPECT_NE(P().GetModuleHandleA(nullptr), nullptr);
}

TEST_F(WindowTest, ClassNamesAreCaseInsensitiveAndAClassWithWindowsStays) {
  os::WndClassA again{};
  again.lpfnWndProc = TestProc;
  again.hInstance = P().GetModuleHandleA(nullptr);
  again.lpszClassName = "MM PLATFORM TEST WINDOW";
  EXPECT_EQ(P().RegisterClassA(&again), 0);
  EXPECT_EQ(P().GetLastError(), kClassAlreadyExists);
  EXPECT_FALSE(P().UnregisterClassA(kClass, P().GetModuleHandleA(nullptr)));
  EXPECT_EQ(P().GetLastError(), kClassHasWindows);
  EXPECT_TRUE(P().IsWindow(hwnd_));
}

TEST_F(WindowTest, SendCallsTheProcedureAtOnceOnTheOwnerThread) {
  EXPECT_EQ(P().SendMessageA(hwnd_, os::kWmApp + 1, 21, 0), 42);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].message, os::kWmApp + 1);
  EXPECT_EQ(g_seen[0].thread, P().GetCurrentThreadId());
}

TEST_F(WindowTest, PostedMessagesWaitForPeekAndDispatchAndQuitComesLast) {
  ASSERT_TRUE(P().PostMessageA(hwnd_, os::kWmApp + 2, 1, 0));
  P().PostQuitMessage(5);
  ASSERT_TRUE(P().PostMessageA(hwnd_, os::kWmApp + 3, 2, 0));
  EXPECT_TRUE(g_seen.empty());

  os::Msg m{};
  ASSERT_TRUE(P().PeekMessageA(&m, nullptr, 0, 0, os::kPmNoRemove));
  EXPECT_EQ(m.message, os::kWmApp + 2);
  ASSERT_TRUE(P().PeekMessageA(&m, nullptr, 0, 0, os::kPmRemove));
  EXPECT_EQ(m.message, os::kWmApp + 2);
  EXPECT_EQ(m.hwnd, hwnd_);
  EXPECT_EQ(P().DispatchMessageA(&m), 2);
  ASSERT_EQ(g_seen.size(), 1u);

  // The quit request comes after every posted message, then the queue is empty.
  ASSERT_EQ(P().GetMessageA(&m, nullptr, 0, 0), 1);
  EXPECT_EQ(m.message, os::kWmApp + 3);
  EXPECT_EQ(P().GetMessageA(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(m.message, os::kWmQuit);
  EXPECT_EQ(m.wParam, 5u);
  EXPECT_FALSE(P().PeekMessageA(&m, nullptr, 0, 0, os::kPmRemove));
}

TEST_F(WindowTest, DestroyWindowSendsDestroyAndTheHandleDies) {
  ASSERT_TRUE(P().DestroyWindow(hwnd_));
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].message, os::kWmDestroy);
  EXPECT_FALSE(P().IsWindow(hwnd_));
  EXPECT_EQ(P().SendMessageA(hwnd_, os::kWmApp, 1, 0), 0);
  EXPECT_FALSE(P().PostMessageA(hwnd_, os::kWmApp, 1, 0));
  EXPECT_FALSE(P().DestroyWindow(hwnd_));
}

TEST_F(WindowTest, AHiddenWindowWithoutParentExistsEvenWithoutADisplay) {
  os::Handle top = P().CreateWindowExA(os::kWsExToolWindow, kClass, "", 0, 0, 0, 0, 0, nullptr,
                                       nullptr, P().GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(top, nullptr);
  EXPECT_TRUE(P().IsWindow(top));
  EXPECT_EQ(P().SendMessageA(top, os::kWmApp + 4, 4, 0), 8);
  EXPECT_TRUE(P().DestroyWindow(top));
  EXPECT_FALSE(P().IsWindow(top));
}

TEST_F(WindowTest, SendFromAnotherThreadWaitsUntilTheOwnerRetrievesMessages) {
  std::atomic<intptr_t> result{-1};
  std::thread sender([&] { result = P().SendMessageA(hwnd_, os::kWmApp + 7, 50, 0); });
  // The owner does not look at its queue yet: the procedure must not run.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(g_seenCount.load(), 0);
  EXPECT_EQ(result.load(), -1);

  // Peeking delivers the sent message on this thread; it is not a posted one.
  os::Msg m{};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (g_seenCount.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    EXPECT_FALSE(P().PeekMessageA(&m, nullptr, 0, 0, os::kPmNoRemove));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  sender.join();
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].message, os::kWmApp + 7);
  EXPECT_EQ(g_seen[0].thread, P().GetCurrentThreadId());
  EXPECT_EQ(result.load(), 100);
}

}  // namespace
