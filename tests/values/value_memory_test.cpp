// Value memory over the fake heap: exact sizes, the static-range rule and the
// end of the process when the heap refuses.
#include "runtime/values/value_memory.h"

#include <gtest/gtest.h>

#include "tests/values/runtime_fixture.h"

namespace {

using testrt::kConstants;
using testrt::kConstantLength;

class ValueMemory : public testrt::Runtime {};

TEST_F(ValueMemory, BlocksHaveExactlyTheRequestedSizeAndKeepTheirBytesWhenResized) {
  void* p = rt::AllocateBlock(5);
  EXPECT_EQ(fake.BlockSize(p), 5);
  std::memcpy(p, "abcde", 5);
  p = rt::ResizeBlock(p, 300);
  EXPECT_EQ(fake.BlockSize(p), 300);
  EXPECT_EQ(Bytes(p, 5), "abcde");
  p = rt::ResizeBlock(p, 2);
  EXPECT_EQ(fake.BlockSize(p), 2);
  EXPECT_EQ(Bytes(p, 2), "ab");
  rt::ReleaseBlock(p);
  EXPECT_FALSE(fake.IsLiveBlock(p));

  // Resizing nothing is an allocation.
  void* q = rt::ResizeBlock(nullptr, 7);
  EXPECT_EQ(fake.BlockSize(q), 7);
  EXPECT_EQ(fake.CallCount("HeapReAlloc"), 2);
  rt::ReleaseBlock(q);
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

TEST_F(ValueMemory, StaticRangesAreHalfOpen) {
  const char* start = reinterpret_cast<const char*>(&kConstants);
  const char* end = start + kConstantLength;
  EXPECT_EQ(rt::FindStaticRange(start), end);
  EXPECT_EQ(rt::FindStaticRange(start + 5), end);
  EXPECT_EQ(rt::FindStaticRange(end - 1), end);
  EXPECT_EQ(rt::FindStaticRange(end), nullptr);
  // The address just before the range, formed without pointer arithmetic
  // outside the object.
  const void* before = reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(start) - 1);
  EXPECT_EQ(rt::FindStaticRange(before), nullptr);
  EXPECT_EQ(rt::FindStaticRange(nullptr), nullptr);

  // An empty range registers nothing; later ranges are found after earlier ones.
  static const char more[16] = "more constants";
  rt::AddStaticRange(more, 0);
  EXPECT_EQ(rt::FindStaticRange(more), nullptr);
  EXPECT_EQ(app.StaticRangeList.size(), 2u);
  rt::AddStaticRange(more, 4);
  EXPECT_EQ(rt::FindStaticRange(more + 3), more + 4);
  EXPECT_EQ(rt::FindStaticRange(more + 4), nullptr);
  EXPECT_EQ(rt::FindStaticRange(start), end);
}

TEST_F(ValueMemory, StaticAddressesAreNeverReleased) {
  rt::ReleaseBlock(nullptr);
  rt::ReleaseBlock(const_cast<char*>(kConstants.empty));
  rt::ReleaseBlock(const_cast<int32_t*>(kConstants.emptyArray));
  rt::ReleaseBlock(const_cast<char*>(kConstants.fixed + 3));  // inside a fixed text
  EXPECT_EQ(fake.CallCount("HeapFree"), 0);
  EXPECT_EQ(std::string(kConstants.fixed), "fixed text");
}

TEST_F(ValueMemory, ResizingAStaticBlockCopiesItIntoANewBlockUpToTheRangesEnd) {
  fake.fillNewBlocks = 0xEE;
  void* emptyArray = const_cast<int32_t*>(kConstants.emptyArray);
  void* q = rt::ResizeBlock(emptyArray, 12);
  ASSERT_NE(q, emptyArray);
  EXPECT_EQ(fake.BlockSize(q), 12);
  EXPECT_EQ(Word(q, 0), 1);
  EXPECT_EQ(Word(q, 1), 0);
  // The range ends with the constant: nothing after it is copied.
  EXPECT_EQ(Bytes(static_cast<char*>(q) + 8, 4), std::string(4, '\xEE'));
  EXPECT_EQ(kConstants.emptyArray[0], 1);
  EXPECT_EQ(kConstants.emptyArray[1], 0);
  EXPECT_EQ(fake.CallCount("HeapReAlloc"), 0);
  rt::ReleaseBlock(q);

  // Fewer bytes than asked lie before the range's end: only those are copied.
  const char* nearEnd = reinterpret_cast<const char*>(&kConstants) + kConstantLength - 3;
  void* r = rt::ResizeBlock(const_cast<char*>(nearEnd), 10);
  EXPECT_EQ(Bytes(r, 3), Bytes(nearEnd, 3));
  EXPECT_EQ(Bytes(static_cast<char*>(r) + 3, 7), std::string(7, '\xEE'));
  rt::ReleaseBlock(r);

  // A smaller size copies only that many bytes.
  void* s = rt::ResizeBlock(const_cast<char*>(kConstants.fixed), 3);
  EXPECT_EQ(fake.BlockSize(s), 3);
  EXPECT_EQ(Bytes(s, 3), "fix");
  rt::ReleaseBlock(s);
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

// The box a refused block of 1048576 bytes shows: a message line, no code line.
const std::string kRefusalBox = testrt::kBoxHeading + testrt::kMessageLabel +
                                "\xB7\xD6\xC5\xE4 1048576 \xD7\xD6\xBD\xDA\xC4\xDA\xB4\xE6\xCA\xA7\xB0\xDC!" +
                                "\r\n";  // 分配 1048576 字节内存失败!

TEST_F(ValueMemory, HeapRefusalShowsTheAllocationBoxAndEndsWithMinusOne) {
  fake.refuseAbove = 1048575;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(fake::ExpectExit([&] { p = rt::AllocateBlock(1048576); }), 0xFFFFFFFFu);
  EXPECT_EQ(p, reinterpret_cast<void*>(1)) << "control came back to the caller";
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].text, kRefusalBox);
  EXPECT_EQ(fake.boxes[0].caption, testrt::kCaption);
  EXPECT_EQ(fake.boxes[0].style, 0x10u);
}

TEST_F(ValueMemory, RefusedResizeEndsTheProcessAndLeavesTheOldBlockAlone) {
  char* old = static_cast<char*>(rt::AllocateBlock(4));
  std::memcpy(old, "keep", 4);
  fake.refuseAbove = 1048575;
  EXPECT_EQ(fake::ExpectExit([&] { old = static_cast<char*>(rt::ResizeBlock(old, 1048576)); }),
            0xFFFFFFFFu);
  EXPECT_TRUE(fake.IsLiveBlock(old));
  EXPECT_EQ(Bytes(old, 4), "keep");
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].text, kRefusalBox);
}

TEST_F(ValueMemory, RefusedCopyOfAStaticBlockEndsTheProcess) {
  // The copy of a static block is an allocation like any other.
  fake.refuseAbove = 1048575;
  EXPECT_EQ(fake::ExpectExit([&] {
              rt::ResizeBlock(const_cast<char*>(kConstants.fixed), 1048576);
            }),
            0xFFFFFFFFu);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].text, kRefusalBox);
  EXPECT_EQ(fake.CallCount("HeapReAlloc"), 0);
}

}  // namespace
