// Value arrays: exact block sizes, copy-on-store, flattening, the no-op and
// clamping rules of removal, and the order of the bounds tests.
#include "runtime/values/value_array.h"

#include <gtest/gtest.h>

#include "runtime/host/runtime_error.h"
#include "tests/values/runtime_fixture.h"

namespace {

using Texts = std::vector<std::string>;
constexpr int32_t w = rt::kTextSlotWidth;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(w == 4, "the 32-bit build has 4-byte text slots: 12 bytes after one append");
#endif

class ValueArrays : public testrt::Runtime {
 protected:
  void* ArrayOf(const Texts& texts) {
    void* a = NewArray();
    for (const std::string& t : texts) rt::ArrayAppend(&a, t.c_str());
    return a;
  }
  // A two-dimensional array of 2 x 3 texts "a" to "f", as a redefinition
  // leaves it.
  void* TwoByThree() {
    void* a = rt::AllocateBlock(12 + 6 * w);
    const int32_t header[3] = {2, 2, 3};
    std::memcpy(a, header, sizeof header);
    const char* names[6] = {"a", "b", "c", "d", "e", "f"};
    for (int i = 0; i < 6; ++i) {
      rt::StoreTextSlot(static_cast<char*>(a) + 12 + i * w, rt::TextCopy(names[i]));
    }
    return a;
  }
};

TEST_F(ValueArrays, AppendStoresACopyInABlockOfExactlyHeaderAndSlots) {
  void* a = NewArray();
  EXPECT_EQ(fake.BlockSize(a), 8);
  char* temporary = rt::TextJoin({"x", "y"});
  rt::ArrayAppend(&a, temporary);
  EXPECT_EQ(fake.BlockSize(a), 8 + w);  // 12 bytes on the 32-bit build
  EXPECT_EQ(Word(a, 0), 1);
  EXPECT_EQ(Word(a, 1), 1);
  char* stored = rt::LoadTextSlot(rt::ArrayElementAt(a, 0));
  EXPECT_NE(stored, temporary);
  EXPECT_STREQ(stored, "xy");
  rt::ReleaseBlock(temporary);

  // Null stays null and counts; "" becomes a 1-byte block of its own.
  rt::ArrayAppend(&a, nullptr);
  rt::ArrayAppend(&a, "");
  EXPECT_EQ(rt::ArrayCount(a), 3);
  EXPECT_EQ(fake.BlockSize(a), 8 + 3 * w);
  EXPECT_EQ(rt::LoadTextSlot(rt::ArrayElementAt(a, 1)), nullptr);
  EXPECT_EQ(rt::TextCompare(rt::LoadTextSlot(rt::ArrayElementAt(a, 1)), ""), 0);
  EXPECT_EQ(fake.BlockSize(rt::LoadTextSlot(rt::ArrayElementAt(a, 2))), 1);
  rt::ArrayRelease(a);
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

TEST_F(ValueArrays, RemovingTheOnlyElementLeavesTheEightByteEmptyArray) {
  void* a = ArrayOf({"only"});
  char* element = rt::LoadTextSlot(rt::ArrayElementAt(a, 0));
  EXPECT_EQ(rt::ArrayRemove(&a, 0, 1), 1);
  EXPECT_FALSE(fake.IsLiveBlock(element));
  EXPECT_EQ(fake.BlockSize(a), 8);
  EXPECT_EQ(Word(a, 0), 1);
  EXPECT_EQ(Word(a, 1), 0);
  rt::ArrayRelease(a);
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

TEST_F(ValueArrays, RemoveOutsideTheArrayOrOfNothingChangesNothing) {
  void* a = ArrayOf({"a", "b", "c"});
  const int frees = fake.CallCount("HeapFree");
  const std::pair<int32_t, int32_t> noOps[] = {{-1, 1}, {3, 1},  {4, 1},  {INT32_MAX, 1},
                                               {INT32_MIN, 2}, {0, 0}, {1, -3}, {0, INT32_MIN}};
  for (auto [p, k] : noOps) {
    EXPECT_EQ(rt::ArrayRemove(&a, p, k), 0) << p << ", " << k;
  }
  EXPECT_EQ(Elements(a), (Texts{"a", "b", "c"}));
  EXPECT_EQ(fake.BlockSize(a), 8 + 3 * w);
  EXPECT_EQ(fake.CallCount("HeapFree"), frees);
  rt::ArrayRelease(a);
}

TEST_F(ValueArrays, RemoveClampsTheCountAndKeepsTheOrderOfTheRest) {
  void* a = ArrayOf({"a", "b", "c", "d", "e"});
  EXPECT_EQ(rt::ArrayRemove(&a, 3, 5), 2);  // only the last two exist
  EXPECT_EQ(Elements(a), (Texts{"a", "b", "c"}));
  EXPECT_EQ(fake.BlockSize(a), 8 + 3 * w);
  EXPECT_EQ(rt::ArrayRemove(&a, 2, 1), 1);  // the last one
  EXPECT_EQ(Elements(a), (Texts{"a", "b"}));
  rt::ArrayAppend(&a, "c");
  rt::ArrayAppend(&a, "d");
  EXPECT_EQ(rt::ArrayRemove(&a, 1, 2), 2);  // from the middle
  EXPECT_EQ(Elements(a), (Texts{"a", "d"}));
  EXPECT_EQ(rt::ArrayRemove(&a, 0, INT32_MAX), 2);
  EXPECT_EQ(Elements(a), Texts{});
  rt::ArrayRelease(a);
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

TEST_F(ValueArrays, ATwoDimensionalArrayIsFlattenedByOneAppendOrOneRemoval) {
  void* a = TwoByThree();
  EXPECT_EQ(rt::ArrayCount(a), 6);
  rt::ArrayAppend(&a, "g");
  EXPECT_EQ(Word(a, 0), 1);
  EXPECT_EQ(Word(a, 1), 7);
  EXPECT_EQ(fake.BlockSize(a), 8 + 7 * w);
  EXPECT_EQ(Elements(a), (Texts{"a", "b", "c", "d", "e", "f", "g"}));
  rt::ArrayRelease(a);

  void* b = TwoByThree();
  EXPECT_EQ(rt::ArrayRemove(&b, 0, 1), 1);
  EXPECT_EQ(Word(b, 0), 1);
  EXPECT_EQ(Word(b, 1), 5);
  EXPECT_EQ(fake.BlockSize(b), 8 + 5 * w);
  EXPECT_EQ(Elements(b), (Texts{"b", "c", "d", "e", "f"}));
  rt::ArrayRelease(b);
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

TEST_F(ValueArrays, ElementAtOfAManyDimensionArrayCountsEverySlot) {
  void* a = TwoByThree();
  EXPECT_STREQ(rt::LoadTextSlot(rt::ArrayElementAt(a, 5)), "f");
  EXPECT_EQ(fake::ExpectExit([&] { rt::ArrayElementAt(a, 6); }), 0xFFFFFFFFu);
  rt::ArrayRelease(a);
}

// The box of a failed bounds test: the code line, then the code's message.
std::string BoundsBox(int32_t code) {
  return testrt::kBoxHeading + testrt::kCodeLabel + std::to_string(code) + "\r\n\r\n" +
         testrt::kMessageLabel + rt::RuntimeErrorMessages[code - 1] + "\r\n";
}

TEST_F(ValueArrays, ElementAtTestsTheLowerBoundBeforeTheUpper) {
  void* empty = NewArray();
  void* two = ArrayOf({"a", "b"});
  struct Case {
    void* array;
    int32_t p;
    int32_t code;
  };
  for (Case c : {Case{empty, -1, 4}, Case{empty, 0, 1}, Case{empty, INT32_MIN, 4},
                 Case{two, -1, 4}, Case{two, 2, 1}, Case{two, INT32_MAX, 1}}) {
    fake.boxes.clear();
    EXPECT_EQ(fake::ExpectExit([&] { rt::ArrayElementAt(c.array, c.p); }), 0xFFFFFFFFu);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, BoundsBox(c.code)) << "position " << c.p;
  }
  EXPECT_STREQ(rt::LoadTextSlot(rt::ArrayElementAt(two, 1)), "b");
  rt::ArrayRelease(empty);
  rt::ArrayRelease(two);
}

TEST_F(ValueArrays, MakePrivateCopiesOnlyAStaticArray) {
  void* a = const_cast<void*>(rt::EmptyArrayConstant());
  EXPECT_EQ(a, testrt::kConstants.emptyArray);
  rt::ArrayMakePrivate(w, &a);
  ASSERT_NE(a, testrt::kConstants.emptyArray);
  EXPECT_EQ(fake.BlockSize(a), 8);
  EXPECT_EQ(Word(a, 0), 1);
  EXPECT_EQ(Word(a, 1), 0);
  void* before = a;
  const int allocations = fake.CallCount("HeapAlloc");
  rt::ArrayMakePrivate(w, &a);
  EXPECT_EQ(a, before);
  EXPECT_EQ(fake.CallCount("HeapAlloc"), allocations);
  rt::ArrayRelease(a);

  // Appending to a variable that still points at the constant makes it
  // private first; the constant itself never changes.
  void* b = const_cast<void*>(rt::EmptyArrayConstant());
  rt::ArrayAppend(&b, "x");
  EXPECT_EQ(Elements(b), Texts{"x"});
  EXPECT_EQ(fake.BlockSize(b), 8 + w);
  EXPECT_EQ(testrt::kConstants.emptyArray[1], 0);
  void* c = const_cast<void*>(rt::EmptyArrayConstant());
  EXPECT_EQ(rt::ArrayRemove(&c, 0, 1), 0);
  EXPECT_NE(c, testrt::kConstants.emptyArray);
  rt::ArrayRelease(b);
  rt::ArrayRelease(c);
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

TEST_F(ValueArrays, ReleaseFreesOnlyHeapElementsThenTheBlock) {
  void* a = NewArray();
  rt::ArrayAppend(&a, nullptr);
  rt::ArrayAppend(&a, "");
  rt::ArrayAppend(&a, nullptr);
  // A fixed text stored without a copy, as a static array's slots hold them.
  rt::StoreTextSlot(rt::ArrayElementAt(a, 2), const_cast<char*>(testrt::kConstants.fixed));
  rt::ArrayRelease(a);
  EXPECT_EQ(fake.CallCount("HeapFree"), 2);  // the "" block and the array
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

TEST_F(ValueArrays, NullAndDimensionlessArraysHaveNoElements) {
  EXPECT_EQ(rt::ArrayFirstSlot(nullptr).count, 0);
  const int32_t none[1] = {0};
  EXPECT_EQ(rt::ArrayCount(none), 0);
  rt::ArrayRelease(nullptr);
  EXPECT_EQ(fake.CallCount("HeapFree"), 0);
}

TEST_F(ValueArrays, WithoutConstantDataTheRuntimeHasItsOwnStaticEmptyArray) {
  const rt::ProgramDescription bare = {3, 0, 0, nullptr, nullptr, 0, nullptr, 0, 0, nullptr, 0, nullptr, nullptr};
  const rt::ProgramImage image = {&bare, &testrt::TestEntry, &testrt::TestStubA, &testrt::TestStubB};
  rt::RuntimeApplication inner(image);
  inner.RuntimeHeap = os::Os().GetProcessHeap();
  const void* own = rt::EmptyArrayConstant();
  EXPECT_EQ(Word(own, 0), 1);
  EXPECT_EQ(Word(own, 1), 0);
  // It is as static as a program's: never released, copied before a change.
  rt::ReleaseBlock(const_cast<void*>(own));
  EXPECT_EQ(fake.CallCount("HeapFree"), 0);
  void* a = const_cast<void*>(own);
  rt::ArrayAppend(&a, "x");
  EXPECT_NE(a, own);
  EXPECT_EQ(Elements(a), Texts{"x"});
  rt::ArrayRelease(a);
}

}  // namespace

namespace {

// Fails each heap request of a short run of value operations in turn: every
// refusal ends the process with the allocation box, and no operation ever
// goes on with a null block.
TEST(ValueOperationsOutOfMemory, EveryRefusedRequestEndsTheProcess) {
  for (int refused = 1;; ++refused) {
    fake::FakePlatform fake;
    rt::RuntimeApplication app(testrt::kImage);
    app.RuntimeHeap = os::Os().GetProcessHeap();
    rt::AddStaticRange(&testrt::kConstants, testrt::kConstantLength);
    fake.refuseFromRequest = refused;
    bool finished = false;
    uint32_t code = 0;
    try {
      void* a = rt::ResizeBlock(const_cast<int32_t*>(testrt::kConstants.emptyArray), 8);
      char* name = rt::TextJoin({"C:\\Mods", "\\", "a.xml"});
      rt::ArrayAppend(&a, name);
      rt::ReleaseBlock(name);
      rt::ArrayAppend(&a, testrt::kConstants.fixed);
      rt::ArrayAppend(&a, nullptr);
      rt::ArrayRemove(&a, 0, 1);
      char* copy = rt::TextCopy(rt::LoadTextSlot(rt::ArrayElementAt(a, 0)));
      rt::ReleaseBlock(copy);
      rt::ArrayRelease(a);
      finished = true;
    } catch (const fake::FakeExit& e) {
      code = e.code;
    }
    if (finished) {
      EXPECT_GT(refused, 8) << "the run needs more heap requests than that";
      EXPECT_TRUE(fake.boxes.empty());
      EXPECT_EQ(fake.LiveBlocks(), 0u);
      break;
    }
    EXPECT_EQ(code, 0xFFFFFFFFu) << "request " << refused;
    ASSERT_EQ(fake.boxes.size(), 1u) << "request " << refused;
    EXPECT_EQ(fake.boxes[0].text.find(testrt::kCodeLabel), std::string::npos);
  }
}

}  // namespace
