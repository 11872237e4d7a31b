// The service and helper tables: each position holds its routine, and the
// routines this program does not use behave sensibly.
#include "runtime/host/service_table.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/host/end_of_run.h"
#include "runtime/host/runtime_application.h"
#include "runtime/host/runtime_error.h"
#include "runtime/host/startup.h"
#include "runtime/services/directory_search.h"
#include "runtime/values/value_array.h"
#include "runtime/values/value_memory.h"
#include "tests/host/host_fixture.h"

namespace {

using hosttest::HostTest;

const std::string kHeading = "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n";
const std::string kMessageLabel = "\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA";
const std::string kStartupWindowFailure = "\xD4\xD8\xC8\xEB\xC6\xF4\xB6\xAF\xB4\xB0\xBF\xDA\xCA\xA7\xB0\xDC";

template <typename Fn>
rt::ServiceEntry E(Fn fn) {
  return reinterpret_cast<rt::ServiceEntry>(fn);
}

TEST(ServiceTableTest, PositionsAreTheContract) {
  EXPECT_EQ(rt::ServiceTable[0], E(&rt::RaiseRuntimeError));
  EXPECT_EQ(rt::ServiceTable[2], E(&rt::CallCommand));
  EXPECT_EQ(rt::ServiceTable[3], E(&rt::CallCommand));
  EXPECT_EQ(rt::ServiceTable[6], E(&rt::AllocateBlock));
  EXPECT_EQ(rt::ServiceTable[7], E(&rt::ResizeBlock));
  EXPECT_EQ(rt::ServiceTable[8], E(&rt::ReleaseBlock));
  EXPECT_EQ(rt::ServiceTable[9], E(&rt::EndProgram));
  EXPECT_EQ(rt::ServiceTable[10], E(&rt::FinishRun));
  EXPECT_EQ(rt::ServiceTable[12], E(&rt::HelperDispatch));
  for (int slot : {1, 4, 5, 11}) EXPECT_NE(rt::ServiceTable[slot], nullptr) << slot;

  EXPECT_EQ(rt::HelperTable[0], E(&rt::FindFile));
  EXPECT_EQ(rt::HelperTable[1], E(&rt::CloseSearch));
  EXPECT_EQ(rt::HelperTable[2], E(&rt::ArrayMakePrivate));
  EXPECT_EQ(rt::HelperTable[3], E(&rt::SetEndOfRunHandler));
  EXPECT_EQ(rt::HelperTable[6], E(&rt::InitRuntime));
  // Slot 12 continues in entry n.
  for (int n = 0; n < 7; ++n) {
    EXPECT_NE(rt::HelperTable[n], nullptr) << n;
    EXPECT_EQ(rt::Helper<rt::ServiceEntry>(n), rt::HelperTable[n]) << n;
  }
}

class UnusedServicesTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    MakeApp();
    rt::InitRuntime();
    fake.calls.clear();
  }
  std::string OnlyBoxText() {
    EXPECT_EQ(fake.boxes.size(), 1u);
    return fake.boxes.empty() ? std::string() : fake.boxes[0].text;
  }
};

TEST_F(UnusedServicesTest, UnknownHelperIsARuntimeError) {
  for (int n : {-1, 7}) {
    fake.boxes.clear();
    EXPECT_EQ(fake::ExpectExit([n] { rt::HelperDispatch(n); }), 0xFFFFFFFFu);
    EXPECT_EQ(fake.boxes.size(), 1u);
  }
}

TEST_F(UnusedServicesTest, StartupWindowThatDoesNotExistIsAReportedError) {
  auto load = rt::Service<void (*)(int32_t)>(rt::kSlotLoadStartupWindow);
  EXPECT_EQ(fake::ExpectExit([&] { load(1); }), 0xFFFFFFFFu);
  EXPECT_EQ(OnlyBoxText(), kHeading + kMessageLabel + kStartupWindowFailure + "\r\n");
}

TEST_F(UnusedServicesTest, WindowUnitServicesFindUnitsByNumber) {
  auto unitOf = rt::Service<rt::WindowUnit* (*)(int32_t)>(rt::kSlotWindowAccess4);
  auto windowOf = rt::Service<os::Handle (*)(int32_t)>(rt::kSlotWindowAccess5);
  EXPECT_EQ(unitOf(1), nullptr);
  EXPECT_EQ(windowOf(1), nullptr);
  app->WindowUnitTable.push_back(std::make_unique<rt::WindowUnit>());
  app->WindowUnitTable[0]->id = 4;
  EXPECT_EQ(unitOf(4), app->WindowUnitTable[0].get());
  EXPECT_EQ(windowOf(4), nullptr);
  rt::Service<void (*)(int32_t)>(rt::kSlotLoadStartupWindow)(4);
  EXPECT_NE(windowOf(4), nullptr);
  EXPECT_EQ(windowOf(4), app->WindowUnitTable[0]->window);
}

TEST_F(UnusedServicesTest, LibraryDataTypesByLibraryAndTypeNumber) {
  static const uint8_t records[2 * 56] = {};
  program.first.dataTypeCount = 2;
  program.first.dataTypes = records;
  auto type = rt::Helper<const void* (*)(int32_t, int32_t)>(rt::kHelperDataType4);
  auto count = rt::Helper<int32_t (*)(int32_t)>(rt::kHelperDataType5);
  EXPECT_EQ(type(0, 1), records + 56);
  EXPECT_EQ(type(0, 2), nullptr);
  EXPECT_EQ(type(1, 0), nullptr);
  EXPECT_EQ(type(2, 0), nullptr);
  EXPECT_EQ(count(0), 2);
  EXPECT_EQ(count(1), 0);
  EXPECT_EQ(count(-1), 0);
}

int32_t External(int32_t x) { return x + 100; }

TEST_F(UnusedServicesTest, ExternalFunctionIsResolvedOnceAndReleasedAtTheEnd) {
  // Constant data holding the names; the tables give their offsets.
  static const char names[] = "helper.dll\0Add\0Missing";
  static const uint32_t libraryOffsets[2] = {0, 0};
  static const uint32_t functionOffsets[2] = {11, 15};
  program.description.constantData = names;
  program.description.constantLength = sizeof names;
  program.description.externalLibraryCount = 2;
  program.description.externalTable1 = libraryOffsets;
  program.description.externalTable2 = functionOffsets;
  app.reset();
  MakeApp();
  rt::InitRuntime();
  fake.libraries["helper.dll"]["Add"] = reinterpret_cast<void*>(&External);
  fake.calls.clear();

  auto resolve = rt::Service<rt::ServiceEntry (*)(int32_t)>(rt::kSlotCallExternal);
  auto add = reinterpret_cast<int32_t (*)(int32_t)>(resolve(0));
  ASSERT_EQ(add, &External);
  EXPECT_EQ(add(1), 101);
  EXPECT_EQ(reinterpret_cast<int32_t (*)(int32_t)>(resolve(0)), &External);
  EXPECT_EQ(fake.CallCount("LoadLibraryA"), 1);
  EXPECT_EQ(fake.CallCount("GetProcAddress"), 1);

  // A function the library lacks, and a declaration that does not exist.
  EXPECT_EQ(fake::ExpectExit([&] { resolve(1); }), 0xFFFFFFFFu);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_NE(fake.boxes[0].text.find("helper.dll / Missing"), std::string::npos);
  // The error's clean-up gave the loaded modules back.
  EXPECT_EQ(fake.CallCount("FreeLibrary"), 2);
  EXPECT_TRUE(fake.loadedLibraries.empty());
  fake.boxes.clear();
  EXPECT_EQ(fake::ExpectExit([&] { resolve(5); }), 0xFFFFFFFFu);
  EXPECT_EQ(fake.boxes.size(), 1u);
}

}  // namespace
