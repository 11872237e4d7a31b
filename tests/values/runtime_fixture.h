// A fresh runtime over the fake platform for in-process tests of values and
// commands: a small program whose constant data is registered as the one
// static range, and the fake's heap as the RuntimeHeap.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/host/program_description.h"
#include "runtime/host/runtime_application.h"
#include "runtime/values/text_value.h"
#include "runtime/values/value_array.h"
#include "runtime/values/value_memory.h"
#include "tests/fake/fake_platform.h"

namespace testrt {

// The test program's constant data: two fixed texts, then the empty-array
// constant in the last 8 bytes, as a program lays them out. The bytes after
// it lie outside the registered range.
struct TestConstants {
  char fixed[12];   // "fixed text"
  char empty[4];    // ""
  int32_t emptyArray[2];
  char beyond[8];   // not registered
};
inline const TestConstants kConstants = {"fixed text", "", {1, 0}, "BEYOND!"};
constexpr uint32_t kConstantLength = offsetof(TestConstants, beyond);

inline const rt::ProgramDescription kDescription = {
    3, 0, 65558, nullptr, &kConstants, kConstantLength, nullptr, 0, 0, nullptr, 0, nullptr, nullptr,
};
inline int32_t TestEntry() { return 0; }
inline intptr_t TestStubA(intptr_t) { return 0; }
inline void TestStubB() {}
inline const rt::ProgramImage kImage = {&kDescription, &TestEntry, &TestStubA, &TestStubB};

class Runtime : public ::testing::Test {
 protected:
  Runtime() : app(kImage) {
    app.RuntimeHeap = os::Os().GetProcessHeap();
    rt::AddStaticRange(&kConstants, kConstantLength);
  }

  // A new array variable as the program makes one: a heap copy of the
  // empty-array constant.
  void* NewArray() {
    void* a = rt::AllocateBlock(8);
    std::memcpy(a, rt::EmptyArrayConstant(), 8);
    return a;
  }
  // The texts of a text array, in storage order; "<null>" for a null slot.
  static std::vector<std::string> Elements(const void* a) {
    std::vector<std::string> out;
    rt::ArraySlots slots = rt::ArrayFirstSlot(a);
    for (int32_t i = 0; i < slots.count; ++i) {
      const char* t = rt::LoadTextSlot(static_cast<char*>(slots.first) + i * rt::kTextSlotWidth);
      out.push_back(t == nullptr ? "<null>" : t);
    }
    return out;
  }
  static int32_t Word(const void* block, int index) {
    int32_t w;
    std::memcpy(&w, static_cast<const char*>(block) + 4 * index, 4);
    return w;
  }
  static std::string Bytes(const void* block, size_t n) {
    return std::string(static_cast<const char*>(block), n);
  }

  fake::FakePlatform fake;
  rt::RuntimeApplication app;
};

// GBK bytes of the runtime-error box texts.
inline const std::string kBoxHeading = "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n";  // 运行时出错!
inline const std::string kCodeLabel = "\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA";          // 错误代码：
inline const std::string kMessageLabel = "\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA";       // 错误信息：
inline const std::string kCaption = "\xB4\xED\xCE\xF3";                                    // 错误

}  // namespace testrt
