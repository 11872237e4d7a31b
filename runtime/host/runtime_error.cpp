// Runtime errors: the box that tells the user what went wrong, then the end
// of the process with status -1.
#include "runtime/host/runtime_error.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/host/end_of_run.h"
#include "runtime/host/runtime_application.h"
#include "runtime/host/runtime_messages.h"
#include "runtime/services/command.h"

namespace rt {
namespace {

// 1 only while the ErrorHandler runs: an error raised inside the handler is
// reported with the box instead of re-entering the handler.
int32_t g_inErrorHandler = 0;

// The box text: heading, then the code line unless the code is 0, then the
// message line unless the message is empty. Built without the runtime heap,
// which may be the thing that failed.
class BoxText {
 public:
  BoxText(const char* message, int32_t code) {
    char codeText[16];
    std::snprintf(codeText, sizeof codeText, kCodeFormat, code);
    const bool withCode = code != 0;
    const bool withMessage = message != nullptr && message[0] != '\0';
    size_t length = std::strlen(kBoxHeading);
    if (withCode) length += std::strlen(kCodeLabel) + std::strlen(codeText) + std::strlen(kCodeLineEnd);
    if (withMessage) length += std::strlen(kMessageLabel) + std::strlen(message) + std::strlen(kMessageLineEnd);

    capacity_ = sizeof local_;
    text_ = local_;
    if (length + 1 > sizeof local_) {
      // A long message; if even that allocation fails, show what fits.
      if (char* big = static_cast<char*>(std::malloc(length + 1))) {
        text_ = big;
        capacity_ = length + 1;
      }
    }
    text_[0] = '\0';
    Append(kBoxHeading);
    if (withCode) {
      Append(kCodeLabel);
      Append(codeText);
      Append(kCodeLineEnd);
    }
    if (withMessage) {
      Append(kMessageLabel);
      Append(message);
      Append(kMessageLineEnd);
    }
  }
  ~BoxText() {
    if (text_ != local_) std::free(text_);
  }
  BoxText(const BoxText&) = delete;
  BoxText& operator=(const BoxText&) = delete;

  const char* c_str() const { return text_; }

 private:
  void Append(const char* part) {
    size_t n = std::strlen(part);
    if (n > capacity_ - 1 - used_) n = capacity_ - 1 - used_;
    std::memcpy(text_ + used_, part, n);
    used_ += n;
    text_[used_] = '\0';
  }

  char local_[512];
  char* text_;
  size_t capacity_;
  size_t used_ = 0;
};

void PlatformOutOfMemory(size_t bytes) {
  ReportAllocationFailure(bytes > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(bytes));
}

}  // namespace

void HandlePlatformAllocationFailures() { os::SetOutOfMemoryHandler(&PlatformOutOfMemory); }

void RuntimeApplication::ReportRuntimeError(const char* message, int32_t code) {
  // From here on no event reaches a program handler; it is never lowered.
  ++EventSuppressCount;
  // The process ends below: a temporary file being written goes first.
  RemovePendingTemporaryFile();

  bool showBox = true;
  if (ErrorHandler != nullptr && g_inErrorHandler == 0) {
    g_inErrorHandler = 1;
    int32_t taken = ErrorHandler(code, message);
    g_inErrorHandler = 0;
    if (taken != 0) showBox = false;
  }

  if (showBox) {
    BoxText text(message, code);
    // The texts are GBK bytes; the back-end decodes them for display. The
    // answer does not matter: the process ends either way.
    os::Os().MessageBoxA(nullptr, text.c_str(), kBoxCaption, os::kMbOk | os::kMbIconError);
  }

  // Run mode 2 is the debugging mode: stop where the error was reported.
  if (RunMode == 2) os::Os().DebugBreak();

  // The program's end-of-run routine does not run after an error.
  EndOfRunHandler = nullptr;
  EndProgram(-1);
}

void RaiseRuntimeError(int32_t code) {
  // Only codes 1 to 11 have a text; any other code is still reported, with
  // its number alone, instead of reading outside the table.
  const char* message = code >= 1 && code <= 11 ? RuntimeErrorMessages[code - 1] : nullptr;
  App().ReportRuntimeError(message, code);
}

void ReportAllocationFailure(int32_t byteCount) {
  // The heap has just refused a block: format into local storage.
  char buffer[100];
  std::snprintf(buffer, sizeof buffer, kAllocationFailureFormat, byteCount);
  App().ReportRuntimeError(buffer, 0);
}

}  // namespace rt
