// What the fuzz targets share: a check that stops the fuzzer with a message
// (libFuzzer then saves the input), and a runtime set up over the test fake.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/host/runtime_application.h"
#include "tests/fake/fake_platform.h"

namespace fuzz {

[[noreturn]] void Fail(const char* condition, const char* file, int line, const std::string& note);

#define FUZZ_CHECK(condition, note)                                         \
  do {                                                                      \
    if (!(condition)) ::fuzz::Fail(#condition, __FILE__, __LINE__, (note)); \
  } while (0)

// A fake platform and a fresh RuntimeApplication over it, the heap handle
// stored as start-up stores it. Failures the fake reports through GoogleTest
// (a release of a block the heap does not hold, say) abort the fuzzer.
class Runtime {
 public:
  Runtime();
  ~Runtime();
  fake::FakePlatform& fake() { return *fake_; }
  rt::RuntimeApplication& app() { return *app_; }

 private:
  std::unique_ptr<fake::FakePlatform> fake_;
  std::unique_ptr<rt::RuntimeApplication> app_;
};

// Printable form of some bytes, for failure notes.
std::string Show(const std::string& bytes);

}  // namespace fuzz
