// A small program for the runtime host's tests: a ProgramDescription with
// constant data, an empty window-unit table and two support libraries whose
// notices are recorded, run over the fake platform with a fresh
// RuntimeApplication.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/host/program_description.h"
#include "runtime/host/runtime_application.h"
#include "tests/fake/fake_platform.h"

namespace hosttest {

// What the test program's routines and libraries saw, in order.
inline std::vector<std::string>& Events() {
  static std::vector<std::string> events;
  return events;
}

inline intptr_t StubA(intptr_t) { return 0; }
inline void StubB() {}

inline intptr_t NotifyFirst(int32_t code, intptr_t a, intptr_t b) {
  Events().push_back("first " + std::to_string(code) + " " + std::to_string(a) + " " +
                     std::to_string(b));
  return code == 6 ? -1 : 0;
}
inline intptr_t NotifySecond(int32_t code, intptr_t a, intptr_t b) {
  Events().push_back("second " + std::to_string(code) + " " + std::to_string(a) + " " +
                     std::to_string(b));
  return 0;
}

inline const char kConstantData[] = "constant data of the test program";
inline const uint8_t kEmptyUnitTable[4] = {0, 0, 0, 0};

// The test program: built per test so a test can change any word.
struct TestProgram {
  rt::LibraryDescriptor first{};
  rt::LibraryDescriptor second{};
  const rt::LibraryDescriptor* libraries[2] = {&first, &second};
  rt::ProgramDescription description{};
  rt::ProgramImage image{};

  explicit TestProgram(int32_t (*entry)() = nullptr) {
    first.formatStamp = 20000101;
    first.notify = NotifyFirst;
    second.formatStamp = 20000101;
    second.notify = NotifySecond;
    description.runMode = 3;
    description.identifierSeed = 65558;
    description.constantData = kConstantData;
    description.constantLength = sizeof kConstantData;
    description.windowUnits = kEmptyUnitTable;
    description.windowUnitsLength = 4;
    description.libraryCount = 2;
    description.libraries = libraries;
    image.description = &description;
    image.entry = entry;
    image.stubA = StubA;
    image.stubB = StubB;
  }
};

// Fake platform, test program and a fresh RuntimeApplication over them; the
// application goes before the fake.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { Events().clear(); }
  void TearDown() override {
    app.reset();
    Events().clear();
  }

  rt::RuntimeApplication& MakeApp() {
    app = std::make_unique<rt::RuntimeApplication>(program.image);
    return *app;
  }

  fake::FakePlatform fake;
  TestProgram program;
  std::unique_ptr<rt::RuntimeApplication> app;
};

}  // namespace hosttest
