// The two conversion commands: RightText counts bytes, ToByteBlock gives the
// bytes of each basic kind and null where there are none.
#include <gtest/gtest.h>

#include "runtime/services/command.h"
#include "tests/values/runtime_fixture.h"

namespace {

using rt::ArgRecord;

ArgRecord Text(const char* t) { return {reinterpret_cast<uintptr_t>(t), 0, rt::kTagText}; }
ArgRecord Int(int32_t n) { return {static_cast<uint32_t>(n), 0, rt::kTagInt32}; }
ArgRecord Value(uint32_t tag, uint32_t low, uint32_t high = 0) { return {low, high, tag}; }
ArgRecord Block(uint32_t tag, const void* block) {
  return {reinterpret_cast<uintptr_t>(block), 0, tag};
}

class Commands : public testrt::Runtime {
 protected:
  // The text RightText gives, "<null>" for the null text.
  std::string Right(const char* text, ArgRecord n) {
    const ArgRecord args[2] = {Text(text), n};
    ArgRecord r = rt::CallCommand(&rt::RightText, 2, args);
    EXPECT_EQ(r.high, 0u);
    EXPECT_EQ(r.tag, 0u);
    char* t = reinterpret_cast<char*>(r.value);
    if (t == nullptr) return "<null>";
    EXPECT_EQ(fake.BlockSize(t), static_cast<long>(std::strlen(t) + 1));
    std::string s = t;
    rt::ReleaseBlock(t);
    return s;
  }
  // The payload of the ByteBlock ToByteBlock gives, "<null>" for null.
  std::string Convert(ArgRecord value) {
    ArgRecord r = rt::CallCommand(&rt::ToByteBlock, 1, &value);
    EXPECT_EQ(r.high, 0u);
    EXPECT_EQ(r.tag, 0u);
    void* block = reinterpret_cast<void*>(r.value);
    if (block == nullptr) return "<null>";
    const int32_t n = Word(block, 1);
    EXPECT_EQ(Word(block, 0), 1);
    EXPECT_EQ(fake.BlockSize(block), 8 + n);
    std::string s = Bytes(static_cast<char*>(block) + 8, static_cast<size_t>(n));
    rt::ReleaseBlock(block);
    return s;
  }
};

TEST_F(Commands, RightTextTakesTheLastBytes) {
  EXPECT_EQ(Right("C:\\Mods\\Data", Int(4)), "Data");
  EXPECT_EQ(Right("abc", Int(4)), "abc");
  EXPECT_EQ(Right("abc", Int(3)), "abc");
  EXPECT_EQ(Right("abc", Int(1)), "c");
  EXPECT_EQ(Right("abc", Int(0)), "<null>");
  EXPECT_EQ(Right("abc", Int(-1)), "<null>");
  EXPECT_EQ(Right("abc", Int(INT32_MIN)), "<null>");
  EXPECT_EQ(Right("", Int(4)), "<null>");
  EXPECT_EQ(Right(testrt::kConstants.empty, Int(4)), "<null>");
  // Bytes, not characters: the second byte of a double-byte character alone.
  EXPECT_EQ(Right("ab\xB4\xED", Int(1)), "\xED");
  EXPECT_EQ(Right("ab\xB4\xED", Int(3)), "b\xB4\xED");
  // Only the count's value word is read.
  EXPECT_EQ(Right("abcdef", Value(0x12345678u, 2, 7)), "ef");
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

TEST_F(Commands, ToByteBlockOfTextsAndByteBlocksCopiesTheirBytes) {
  EXPECT_EQ(Convert(Text("abc")), "abc");  // no NUL
  EXPECT_EQ(Convert(Text("")), "<null>");
  EXPECT_EQ(Convert(Text(testrt::kConstants.empty)), "<null>");
  EXPECT_EQ(Convert(Block(rt::kTagByteBlock, rt::EmptyArrayConstant())), "<null>");

  char* five = static_cast<char*>(rt::AllocateBlock(13));
  const int32_t header[2] = {1, 5};
  std::memcpy(five, header, 8);
  std::memcpy(five + 8, "\x00\x01\xFEzz", 5);
  ArgRecord arg = Block(rt::kTagByteBlock, five);
  ArgRecord r = rt::CallCommand(&rt::ToByteBlock, 1, &arg);
  ASSERT_NE(r.value, 0u);
  EXPECT_NE(reinterpret_cast<void*>(r.value), five);  // a copy, never shared
  EXPECT_EQ(Bytes(reinterpret_cast<void*>(r.value), 13), Bytes(five, 13));
  rt::ReleaseBlock(reinterpret_cast<void*>(r.value));
  rt::ReleaseBlock(five);
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

TEST_F(Commands, ToByteBlockOfBasicValuesTakesTheirWidthLittleEndian) {
  EXPECT_EQ(Convert(Int(1)), std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(Convert(Int(0)), std::string(4, '\0'));  // a zero value still has bytes
  EXPECT_EQ(Convert(Value(rt::kTagUInt8, 255)), "\xFF");
  EXPECT_EQ(Convert(Value(rt::kTagUInt8, 0x1234)), "\x34");
  EXPECT_EQ(Convert(Value(rt::kTagInt16, 0xFFFFFFFEu)), "\xFE\xFF");
  EXPECT_EQ(Convert(Value(rt::kTagInt64, 0x04030201u, 0x08070605u)),
            "\x01\x02\x03\x04\x05\x06\x07\x08");
  EXPECT_EQ(Convert(Value(rt::kTagFloat, 0x3F800000u, 0x99u)), std::string("\x00\x00\x80\x3F", 4));
  EXPECT_EQ(Convert(Value(rt::kTagDouble, 0, 0x3FF00000u)), std::string("\0\0\0\0\0\0\xF0\x3F", 8));
  EXPECT_EQ(Convert(Value(rt::kTagBasic4, 0x64636261u, 0x99u)), "abcd");
  EXPECT_EQ(Convert(Value(rt::kTagBasic4b, 0x64636261u)), "abcd");
  EXPECT_EQ(Convert(Value(rt::kTagBasic8, 0x64636261u, 0x68676665u)), "abcdefgh");
  EXPECT_EQ(Convert(Value(rt::kTagBasic8b, 0x64636261u, 0x68676665u)), "abcdefgh");
}

TEST_F(Commands, ToByteBlockOfKindsWithoutDefinedBytesIsNull) {
  for (uint32_t tag : {0u, 0x80000001u, 0x80000007u, 0x80000009u, 0x80000701u, 0x40000004u,
                       0x40000301u, 0xC0000301u, 0x00000301u, 0x10000000u}) {
    EXPECT_EQ(Convert(Value(tag, 0x61616161u, 0x61616161u)), "<null>") << std::hex << tag;
  }
  EXPECT_EQ(fake.CallCount("HeapAlloc"), 0);
}

TEST_F(Commands, ToByteBlockOfNumericArraysTakesTheirElements) {
  // A one-dimensional array of three 16-bit integers.
  const int32_t int16s[4] = {1, 3, 0x00020001, 0x00000003};
  EXPECT_EQ(Convert(Block(rt::kTagInt16 | rt::kTagArrayBit, int16s)),
            std::string("\x01\x00\x02\x00\x03\x00", 6));
  const int32_t int32s[4] = {1, 2, -1, 7};
  EXPECT_EQ(Convert(Block(rt::kTagInt32 | rt::kTagArrayBit, int32s)),
            std::string("\xFF\xFF\xFF\xFF\x07\x00\x00\x00", 8));
  const int32_t bytes[3] = {1, 3, 0x00636261};
  EXPECT_EQ(Convert(Block(rt::kTagUInt8 | rt::kTagArrayBit, bytes)), "abc");

  // No elements, no bytes; a shape whose bytes are not defined gives nothing.
  EXPECT_EQ(Convert(Block(rt::kTagInt32 | rt::kTagArrayBit, rt::EmptyArrayConstant())), "<null>");
  const int32_t twoByTwo[6] = {2, 2, 2, 1, 2, 3};
  EXPECT_EQ(Convert(Block(rt::kTagInt16 | rt::kTagArrayBit, twoByTwo)), "<null>");
  EXPECT_EQ(Convert(Block(0x80000701u | rt::kTagArrayBit, int32s)), "<null>");

  // Arrays of texts, ByteBlocks or other basic kinds have no bytes.
  void* texts = NewArray();
  rt::ArrayAppend(&texts, "abc");
  for (uint32_t tag : {rt::kTagText, rt::kTagByteBlock, rt::kTagBasic4, rt::kTagBasic8}) {
    EXPECT_EQ(Convert(Block(tag | rt::kTagArrayBit, texts)), "<null>") << std::hex << tag;
  }
  rt::ArrayRelease(texts);
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

}  // namespace
