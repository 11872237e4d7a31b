// The paths that really end the process, over this build's own back-end, in
// child processes: the runtime-error exit and its box, the end request from
// another thread, and a normal end through the framework.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/app_framework.h"
#include "runtime/host/end_of_run.h"
#include "runtime/host/program_description.h"
#include "runtime/host/runtime_application.h"
#include "runtime/host/runtime_error.h"
#include "runtime/host/startup.h"

namespace {

// -1 as the parent sees it: 255 as a POSIX status, -1 from Windows.
#ifdef _WIN32
constexpr int kMinusOne = -1;
#else
constexpr int kMinusOne = 255;
#endif

const char kConstantData[] = "constant data";
const uint8_t kEmptyUnitTable[4] = {0, 0, 0, 0};

intptr_t StubA(intptr_t) { return 0; }
void StubB() {}

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stderr);
  std::fflush(stderr);
}

std::string Hex(const char* bytes) {
  std::string out;
  char two[3];
  for (const char* p = bytes; p != nullptr && *p != '\0'; ++p) {
    std::snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(*p));
    out += two;
  }
  return out;
}

// The native table with a message box that first tells the test the exact
// bytes it was given.
os::Platform g_native;
int TellingMessageBox(os::Handle owner, const char* text, const char* caption, os::Dword style) {
  Say("box " + Hex(text) + " caption " + Hex(caption) + " style " + std::to_string(style));
  return os::NativePlatform().MessageBoxA(owner, text, caption, style);
}
// A message box that must not appear: its appearance changes the exit status.
int ForbiddenMessageBox(os::Handle, const char*, const char*, os::Dword) { std::_Exit(77); }

void EndOfRunRoutine() { Say("end-of-run routine"); }
void ForbiddenEndOfRunRoutine() { std::_Exit(66); }

struct Program {
  rt::ProgramDescription description{};
  rt::ProgramImage image{};
  explicit Program(int32_t (*entry)() = nullptr) {
    description.runMode = 3;
    description.identifierSeed = 65558;
    description.constantData = kConstantData;
    description.constantLength = sizeof kConstantData;
    description.windowUnits = kEmptyUnitTable;
    description.windowUnitsLength = 4;
    image = rt::ProgramImage{&description, entry, StubA, StubB};
  }
};

// Child: a started runtime over the native back-end (message box telling its
// bytes), then the error.
void StartAndReport(const char* message, int32_t code, bool raise) {
  g_native = os::NativePlatform();
  g_native.MessageBoxA = TellingMessageBox;
  os::InstallPlatform(&g_native);
  static Program program;
  static rt::RuntimeApplication app(program.image);
  rt::InitRuntime();
  rt::SetEndOfRunHandler(ForbiddenEndOfRunRoutine);
  if (raise) rt::RaiseRuntimeError(code);
  app.ReportRuntimeError(message, code);
}

// Expected stderr: the box's bytes, GBK as written out independently here.
const std::string kHeadingHex = Hex("\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n");
const std::string kCodeLabelHex = Hex("\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA");
const std::string kMessageLabelHex = Hex("\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA");
const std::string kCaptionTail = " caption " + Hex("\xB4\xED\xCE\xF3") + " style 16";

std::string BoxLine(const std::string& textHex) { return "box " + textHex + kCaptionTail; }

TEST(NativeExitDeathTest, BoundsErrorsExitMinusOneAfterTheirBox) {
  const std::string code1 =
      kHeadingHex + kCodeLabelHex + Hex("1\r\n\r\n") + kMessageLabelHex +
      Hex("\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA\xB3\xAC\xB3\xF6"
          "\xB6\xA8\xD2\xE5\xB7\xB6\xCE\xA7\r\n");
  const std::string code4 =
      kHeadingHex + kCodeLabelHex + Hex("4\r\n\r\n") + kMessageLabelHex +
      Hex("\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA\xB1\xD8\xD0\xEB"
          "\xB4\xF3\xD3\xDA\xB5\xC8\xD3\xDA" "1\r\n");
#ifdef _WIN32
  const std::string shown1, shown4;
#else
  // Shown to a person: decoded from GBK, written as UTF-8.
  const std::string shown1 = ".*运行时出错!.*错误代码：1.*错误信息：数组成员引用下标超出定义范围";
  const std::string shown4 = ".*运行时出错!.*错误代码：4.*错误信息：数组成员引用下标必须大于等于1";
#endif
  EXPECT_EXIT(StartAndReport(nullptr, 1, true), ::testing::ExitedWithCode(kMinusOne),
              BoxLine(code1) + shown1);
  EXPECT_EXIT(StartAndReport(nullptr, 4, true), ::testing::ExitedWithCode(kMinusOne),
              BoxLine(code4) + shown4);
}

TEST(NativeExitDeathTest, CodeZeroWithoutMessageAndNegativeCodes) {
  EXPECT_EXIT(StartAndReport(nullptr, 0, false), ::testing::ExitedWithCode(kMinusOne),
              BoxLine(kHeadingHex) + "\n");
  EXPECT_EXIT(StartAndReport(nullptr, -12, false), ::testing::ExitedWithCode(kMinusOne),
              BoxLine(kHeadingHex + kCodeLabelHex + Hex("-12\r\n\r\n")) + "\n");
}

const char kHandlerMessage[] = "\xB2\xE2\xCA\xD4";
int32_t TakingHandler(int32_t code, const char* message) {
  Say("handler " + std::to_string(code) + " " +
      (message == kHandlerMessage ? std::string("same") : std::string("other")));
  return 1;
}

TEST(NativeExitDeathTest, HandlerTakesTheErrorWithoutBoxButStillExitsMinusOne) {
  auto child = [] {
    g_native = os::NativePlatform();
    g_native.MessageBoxA = ForbiddenMessageBox;
    os::InstallPlatform(&g_native);
    static Program program;
    static rt::RuntimeApplication app(program.image);
    rt::InitRuntime();
    rt::SetEndOfRunHandler(ForbiddenEndOfRunRoutine);
    app.ErrorHandler = TakingHandler;
    app.ReportRuntimeError(kHandlerMessage, 3);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(kMinusOne), "handler 3 same");
}

// Child: the main thread waits for messages while a second thread ends the
// program; the clean-up must run on the main thread, once.
std::thread::id g_mainThread;
void EndOfRunRoutineOnWhichThread() {
  Say(std::this_thread::get_id() == g_mainThread ? "end-of-run routine on the main thread"
                                                 : "end-of-run routine on another thread");
}

void EndFromSecondThread() {
  static Program program;
  static rt::RuntimeApplication app(program.image);
  rt::InitRuntime();
  rt::SetEndOfRunHandler(EndOfRunRoutineOnWhichThread);
  g_mainThread = std::this_thread::get_id();
  std::thread second([] {
    rt::EndProgram(42);
  });
  second.detach();
  // The main thread retrieves its messages; the end request arrives here.
  while (app.PumpMessage()) {
  }
  Say("the message loop ended without the end request");
  std::_Exit(3);
}

// Whether this system can create a window at all (Wine without a graphics
// driver cannot); without one the end request has no window to go to.
intptr_t OS_CALLBACK ProbeProc(os::Handle hwnd, uint32_t message, uintptr_t w, intptr_t l) {
  return os::NativePlatform().DefWindowProcA(hwnd, message, w, l);
}

bool WindowsCanBeCreated() {
  const os::Platform& p = os::NativePlatform();
  os::WndClassA cls{};
  cls.lpfnWndProc = ProbeProc;
  cls.hInstance = p.GetModuleHandleA(nullptr);
  cls.lpszClassName = "ModManifestWindowProbe";
  p.RegisterClassA(&cls);
  os::Handle window = p.CreateWindowExA(0, cls.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                        cls.hInstance, nullptr);
  if (window != nullptr) p.DestroyWindow(window);
  p.UnregisterClassA(cls.lpszClassName, cls.hInstance);
  return window != nullptr;
}

TEST(NativeExitDeathTest, EndProgramOnASecondThreadEndsThroughTheMainThread) {
  if (!WindowsCanBeCreated()) GTEST_SKIP() << "this system cannot create a window";
  EXPECT_EXIT(EndFromSecondThread(), ::testing::ExitedWithCode(42),
              "^end-of-run routine on the main thread\n$");
}

int32_t MiniProgramEntry() {
  rt::InitRuntime();
  rt::SetEndOfRunHandler(EndOfRunRoutine);
  Say("manifest run");
  rt::FinishRun();
  return 0;
}

void NormalRun() {
  int result = 0;
  {
    Program program(MiniProgramEntry);
    rt::RuntimeApplication app(program.image);
    result = os::FrameworkMain(nullptr, "", 10);
    Say("framework returned " + std::to_string(result));
  }
  Say("application destroyed");
  std::_Exit(result);
}

TEST(NativeExitDeathTest, NormalEndExitsZeroAndRunsTheEndOfRunRoutineOnce) {
  EXPECT_EXIT(NormalRun(), ::testing::ExitedWithCode(0),
              "^manifest run\nend-of-run routine\nframework returned 0\napplication destroyed\n$");
}

}  // namespace
