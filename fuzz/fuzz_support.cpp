#include "fuzz/fuzz_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace fuzz {
namespace {

// Turns a failure that the fake reports outside any test into an abort.
class AbortOnFailure : public ::testing::EmptyTestEventListener {
  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    if (!result.failed()) return;
    std::fprintf(stderr, "fake platform: %s:%d: %s\n",
                 result.file_name() != nullptr ? result.file_name() : "?", result.line_number(),
                 result.message());
    std::abort();
  }
};

void InstallAbortOnFailure() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  ::testing::UnitTest::GetInstance()->listeners().Append(new AbortOnFailure);
}

const rt::ProgramDescription kDescription{};
int32_t NoEntry() { return 0; }
intptr_t NoHook(intptr_t) { return 0; }
void NoFinaliser() {}
const rt::ProgramImage kImage{&kDescription, NoEntry, NoHook, NoFinaliser};

}  // namespace

void Fail(const char* condition, const char* file, int line, const std::string& note) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", file, line, condition, note.c_str());
  std::abort();
}

Runtime::Runtime() {
  InstallAbortOnFailure();
  fake_ = std::make_unique<fake::FakePlatform>();
  app_ = std::make_unique<rt::RuntimeApplication>(kImage);
  app_->RuntimeHeap = fake_->table().GetProcessHeap();
}

Runtime::~Runtime() {
  // The application first: its destructor may still call the platform.
  app_.reset();
  fake_.reset();
}

std::string Show(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}

}  // namespace fuzz
