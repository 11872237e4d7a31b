// Runtime errors over the fake platform: the exact bytes of the box, the
// error handler's rules and what the end of the process runs.
#include "runtime/host/runtime_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "runtime/host/runtime_application.h"
#include "runtime/host/startup.h"
#include "tests/host/host_fixture.h"

namespace {

using hosttest::Events;
using hosttest::HostTest;

// GBK bytes of the reporter's fixed texts, written out independently of the
// runtime's own source.
const std::string kHeading = "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n";
const std::string kCodeLabel = "\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA";
const std::string kMessageLabel = "\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA";
const std::string kCaption = "\xB4\xED\xCE\xF3";

const std::string kMessages[11] = {
    std::string("\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA\xB3\xAC\xB3\xF6"
        "\xB6\xA8\xD2\xE5\xB7\xB6\xCE\xA7"),
    std::string("\xCE\xB4\xB5\xC3\xB5\xBD\xCB\xF9\xD0\xE8\xD2\xAA\xB5\xC4\xCA\xFD\xD6\xB5\xD0\xCD"
        "\xCA\xFD\xBE\xDD"),
    std::string("\xD2\xFD\xD3\xC3\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xCA\xB1\xCE\xAC\xCA\xFD\xB2\xBB"
        "\xCE\xAA\x31\xC7\xD2\xB2\xBB\xB5\xC8\xD3\xDA\xB8\xC3\xCA\xFD\xD7\xE9\xC4\xBF\xC7"
        "\xB0\xCB\xF9\xBE\xDF\xD3\xD0\xB5\xC4\xCE\xAC\xCA\xFD"),
    std::string("\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA\xB1\xD8\xD0\xEB"
        "\xB4\xF3\xD3\xDA\xB5\xC8\xD3\xDA\x31"),
    std::string("\xCA\xFD\xBE\xDD\xBB\xF2\xCA\xFD\xD7\xE9\xC0\xE0\xD0\xCD\xB2\xBB\xC6\xA5\xC5\xE4"),
    std::string("\xB5\xF7\xD3\xC3\x44\x4C\x4C\xC3\xFC\xC1\xEE\xBA\xF3\xB7\xA2\xCF\xD6\xB6\xD1\xD5"
        "\xBB\xB4\xED\xCE\xF3"),
    std::string("\xD7\xD3\xD3\xEF\xBE\xE4\xB2\xCE\xCA\xFD\xCE\xB4\xB7\xB5\xBB\xD8\xCA\xFD\xBE\xDD"
        "\xBB\xF2\xD5\xDF\xB7\xB5\xBB\xD8\xC1\xCB\xB7\xC7\xCF\xB5\xCD\xB3\xBB\xF9\xB1\xBE"
        "\xC0\xE0\xD0\xCD\xBB\xF2\xCA\xFD\xD7\xE9\xD0\xCD\xCA\xFD\xBE\xDD"),
    std::string("\xB1\xBB\xB1\xC8\xBD\xCF\xCA\xFD\xBE\xDD\xD6\xBB\xC4\xDC\xCA\xB9\xD3\xC3\xB5\xC8"
        "\xD3\xDA\xBB\xF2\xB2\xBB\xB5\xC8\xD3\xDA\xC3\xFC\xC1\xEE\xB1\xC8\xBD\xCF"),
    std::string("\xA1\xB0\xB6\xE0\xCF\xEE\xD1\xA1\xD4\xF1\xA1\xB1\xC3\xFC\xC1\xEE\xB5\xC4\xCB\xF7"
        "\xD2\xFD\xD6\xB5\xB2\xCE\xCA\xFD\xD0\xA1\xD3\xDA\xC1\xE3\xBB\xF2\xB3\xAC\xB3\xF6"
        "\xC1\xCB\xCB\xF9\xCC\xE1\xB9\xA9\xB2\xCE\xCA\xFD\xB1\xED\xB7\xB6\xCE\xA7"),
    std::string("\xA1\xB0\xD6\xD8\xB6\xA8\xD2\xE5\xCA\xFD\xD7\xE9\xA1\xB1\xC3\xFC\xC1\xEE\xB5\xC4"
        "\xCA\xFD\xD7\xE9\xCE\xAC\xB6\xA8\xD2\xE5\xB2\xCE\xCA\xFD\xD6\xB5\xB1\xD8\xD0\xEB"
        "\xB4\xF3\xD3\xDA\xC1\xE3\xBB\xF2\xB5\xA5\xCE\xAC\xCA\xB1\xB4\xF3\xD3\xDA\xB5\xC8"
        "\xD3\xDA\xC1\xE3"),
    std::string("\xCB\xF9\xCC\xE1\xB9\xA9\xB2\xCE\xCA\xFD\xB5\xC4\xCA\xFD\xBE\xDD\xC0\xE0\xD0\xCD"
        "\xB2\xBB\xB7\xFB\xBA\xCF\xD2\xAA\xC7\xF3"),};

// The error path with the program's end-of-run routine installed: it must
// never run there.
void EndOfRunRoutine() { Events().push_back("end-of-run routine"); }

class RuntimeErrorTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    MakeApp();
    rt::InitRuntime();
    rt::SetEndOfRunHandler(EndOfRunRoutine);
    fake.calls.clear();
    Events().clear();
  }

  // The one box shown, checked for caption and style.
  std::string OnlyBoxText() {
    EXPECT_EQ(fake.boxes.size(), 1u);
    if (fake.boxes.empty()) return {};
    EXPECT_EQ(fake.boxes[0].caption, kCaption);
    EXPECT_EQ(fake.boxes[0].style, 0x10u);
    return fake.boxes[0].text;
  }
};

TEST_F(RuntimeErrorTest, MessageTextsAreTheGbkBytes) {
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(std::string(rt::RuntimeErrorMessages[i]), kMessages[i]) << "code " << i + 1;
  }
}

TEST_F(RuntimeErrorTest, BoundsErrorsShowCodeAndTextThenEndWithMinusOne) {
  EXPECT_EQ(fake::ExpectExit([] { rt::RaiseRuntimeError(1); }), 0xFFFFFFFFu);
  EXPECT_EQ(OnlyBoxText(),
            kHeading + kCodeLabel + "1" + "\r\n\r\n" + kMessageLabel + kMessages[0] + "\r\n");

  fake.boxes.clear();
  EXPECT_EQ(fake::ExpectExit([] { rt::RaiseRuntimeError(4); }), 0xFFFFFFFFu);
  EXPECT_EQ(OnlyBoxText(),
            kHeading + kCodeLabel + "4" + "\r\n\r\n" + kMessageLabel + kMessages[3] + "\r\n");
}

TEST_F(RuntimeErrorTest, TheFourFormsOfTheBoxText) {
  rt::RuntimeApplication& a = *app;
  const char* text = "\xCA\xFD\xBE\xDD";  // GBK, passed through unchanged

  EXPECT_EQ(fake::ExpectExit([&] { a.ReportRuntimeError(nullptr, 0); }), 0xFFFFFFFFu);
  EXPECT_EQ(OnlyBoxText(), kHeading);
  fake.boxes.clear();
  fake::ExpectExit([&] { a.ReportRuntimeError("", 0); });
  EXPECT_EQ(OnlyBoxText(), kHeading);
  fake.boxes.clear();

  fake::ExpectExit([&] { a.ReportRuntimeError(text, 0); });
  EXPECT_EQ(OnlyBoxText(), kHeading + kMessageLabel + text + "\r\n");
  fake.boxes.clear();

  // A negative code keeps its sign and still gets its line.
  fake::ExpectExit([&] { a.ReportRuntimeError(nullptr, -7); });
  EXPECT_EQ(OnlyBoxText(), kHeading + kCodeLabel + "-7\r\n\r\n");
  fake.boxes.clear();

  fake::ExpectExit([&] { a.ReportRuntimeError(text, INT32_MIN); });
  EXPECT_EQ(OnlyBoxText(),
            kHeading + kCodeLabel + "-2147483648\r\n\r\n" + kMessageLabel + text + "\r\n");
}

TEST_F(RuntimeErrorTest, LongMessageIsShownWhole) {
  std::string message(5000, 'x');
  fake::ExpectExit([&] { app->ReportRuntimeError(message.c_str(), 2); });
  EXPECT_EQ(OnlyBoxText(), kHeading + kCodeLabel + "2\r\n\r\n" + kMessageLabel + message + "\r\n");
}

TEST_F(RuntimeErrorTest, AllocationFailureHasNoCodeLine) {
  EXPECT_EQ(fake::ExpectExit([] { rt::ReportAllocationFailure(1048576); }), 0xFFFFFFFFu);
  EXPECT_EQ(OnlyBoxText(), kHeading + kMessageLabel + "\xB7\xD6\xC5\xE4 " + "1048576" +
                               " \xD7\xD6\xBD\xDA\xC4\xDA\xB4\xE6\xCA\xA7\xB0\xDC!" + "\r\n");
  fake.boxes.clear();
  fake::ExpectExit([] { rt::ReportAllocationFailure(INT32_MIN); });
  EXPECT_NE(OnlyBoxText().find(" -2147483648 "), std::string::npos);
}

TEST_F(RuntimeErrorTest, CodeWithoutTextShowsItsNumberAlone) {
  // Codes outside 1..11 have no text; the report must not read past the table.
  fake::ExpectExit([] { rt::RaiseRuntimeError(12); });
  EXPECT_EQ(OnlyBoxText(), kHeading + kCodeLabel + "12\r\n\r\n");
  fake.boxes.clear();
  fake::ExpectExit([] { rt::RaiseRuntimeError(0); });
  EXPECT_EQ(OnlyBoxText(), kHeading);
}

TEST_F(RuntimeErrorTest, ErrorPathSkipsTheEndOfRunRoutineButCleansUp) {
  EXPECT_EQ(fake::ExpectExit([] { rt::RaiseRuntimeError(1); }), 0xFFFFFFFFu);
  // The libraries still get their end-of-run notice and OLE is left; the
  // program's routine does not run.
  EXPECT_EQ(Events(), (std::vector<std::string>{"first 6 0 0", "second 6 0 0"}));
  EXPECT_EQ(app->EndOfRunHandler, nullptr);
  EXPECT_EQ(fake.oleDepth, 0);
  EXPECT_LT(fake.IndexOf("MessageBoxA"), fake.IndexOf("OleUninitialize"));
  EXPECT_EQ(fake.calls.back(), "ExitProcess 4294967295");
  EXPECT_GE(app->EventSuppressCount, 2);  // the reporter's and the clean-up's
}

struct HandlerLog {
  int calls = 0;
  int32_t code = 0;
  const char* message = nullptr;
  int32_t answer = 1;
};
HandlerLog g_handler;

int32_t RecordingHandler(int32_t code, const char* message) {
  ++g_handler.calls;
  g_handler.code = code;
  g_handler.message = message;
  return g_handler.answer;
}

TEST_F(RuntimeErrorTest, HandlerThatTakesTheErrorSuppressesOnlyTheBox) {
  g_handler = HandlerLog{};
  app->ErrorHandler = RecordingHandler;
  EXPECT_EQ(fake::ExpectExit([] { rt::RaiseRuntimeError(4); }), 0xFFFFFFFFu);
  EXPECT_EQ(g_handler.calls, 1);
  EXPECT_EQ(g_handler.code, 4);
  // The very text of the table, not the composed box text.
  EXPECT_EQ(g_handler.message, rt::RuntimeErrorMessages[3]);
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(std::count(Events().begin(), Events().end(), "end-of-run routine"), 0);

  g_handler = HandlerLog{};
  g_handler.answer = 0;  // declines: the box appears as usual
  fake::ExpectExit([&] { app->ReportRuntimeError("m", 9); });
  EXPECT_EQ(g_handler.calls, 1);
  EXPECT_STREQ(g_handler.message, "m");
  EXPECT_EQ(OnlyBoxText(), kHeading + kCodeLabel + "9\r\n\r\n" + kMessageLabel + "m\r\n");
}

int32_t FailingHandler(int32_t, const char*) {
  ++g_handler.calls;
  rt::RaiseRuntimeError(1);  // re-enters the reporter, which must skip us
}

TEST_F(RuntimeErrorTest, ErrorInsideTheHandlerShowsItsOwnBox) {
  g_handler = HandlerLog{};
  app->ErrorHandler = FailingHandler;
  EXPECT_EQ(fake::ExpectExit([] { rt::RaiseRuntimeError(4); }), 0xFFFFFFFFu);
  EXPECT_EQ(g_handler.calls, 1);
  EXPECT_EQ(OnlyBoxText(),
            kHeading + kCodeLabel + "1\r\n\r\n" + kMessageLabel + kMessages[0] + "\r\n");
}

TEST_F(RuntimeErrorTest, DebugModeStopsAtABreakpointFirst) {
  app->RunMode = 2;
  fake::ExpectExit([] { rt::RaiseRuntimeError(1); });
  EXPECT_LT(fake.IndexOf("MessageBoxA"), fake.IndexOf("DebugBreak"));
  EXPECT_LT(fake.IndexOf("DebugBreak"), fake.IndexOf("ExitProcess"));
  app->RunMode = 3;
  fake.calls.clear();
  fake::ExpectExit([] { rt::RaiseRuntimeError(1); });
  EXPECT_EQ(fake.CallCount("DebugBreak"), 0);
}

}  // namespace
