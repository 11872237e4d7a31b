// Text values: null and "" are one empty text, bytes compare unsigned, a join
// allocates exactly once.
#include "runtime/values/text_value.h"

#include <gtest/gtest.h>

#include "tests/values/runtime_fixture.h"

namespace {

class TextValues : public testrt::Runtime {};

TEST_F(TextValues, CompareTreatsNullAsEmptyAndBytesAsUnsigned) {
  EXPECT_EQ(rt::TextCompare(nullptr, ""), 0);
  EXPECT_EQ(rt::TextCompare("", nullptr), 0);
  EXPECT_EQ(rt::TextCompare(nullptr, nullptr), 0);
  EXPECT_EQ(rt::TextCompare(nullptr, "a"), -1);
  EXPECT_EQ(rt::TextCompare("a", nullptr), 1);
  EXPECT_EQ(rt::TextCompare("", "a"), -1);
  EXPECT_EQ(rt::TextCompare("abc", "abd"), -1);
  EXPECT_EQ(rt::TextCompare("abd", "abc"), 1);
  EXPECT_EQ(rt::TextCompare("ab", "abc"), -1);
  EXPECT_EQ(rt::TextCompare("abc", "ab"), 1);
  EXPECT_EQ(rt::TextCompare("abc", "abc"), 0);
  // A lead byte of a double-byte character sorts after every ASCII letter.
  EXPECT_EQ(rt::TextCompare("\xB4\xED", "z"), 1);
  EXPECT_EQ(rt::TextCompare("z", "\x80"), -1);
  EXPECT_EQ(rt::TextCompare("a\xFF", "a\x7F"), 1);
  // Case-sensitive.
  EXPECT_NE(rt::TextCompare("Data", "data"), 0);
  // Results are exactly -1, 0 or 1, whatever the bytes' distance.
  EXPECT_EQ(rt::TextCompare("a", "z"), -1);
  EXPECT_EQ(rt::TextCompare("\xFF", "\x01"), 1);
}

TEST_F(TextValues, JoinAllocatesOneExactBlockAndSkipsNullParts) {
  char* r = rt::TextJoin({nullptr, "\\*.xml"});
  EXPECT_STREQ(r, "\\*.xml");
  EXPECT_EQ(fake.BlockSize(r), 7);
  char* e = rt::TextJoin({nullptr, nullptr});
  EXPECT_STREQ(e, "");
  EXPECT_EQ(fake.BlockSize(e), 1);
  char* m = rt::TextJoin({"C:\\Mods", "", nullptr, "\\", "zenter.xml"});
  EXPECT_STREQ(m, "C:\\Mods\\zenter.xml");
  EXPECT_EQ(fake.BlockSize(m), 19);
  EXPECT_EQ(fake.CallCount("HeapAlloc"), 3);

  // More parts than a join remembers lengths for.
  std::vector<const char*> parts(40, "ab");
  parts[35] = nullptr;
  char* many = rt::TextJoin(static_cast<int32_t>(parts.size()), parts.data());
  std::string expected;
  for (int i = 0; i < 39; ++i) expected += "ab";
  EXPECT_EQ(std::string(many), expected);
  EXPECT_EQ(fake.BlockSize(many), 79);
  for (char* t : {r, e, m, many}) rt::ReleaseBlock(t);
}

TEST_F(TextValues, JoiningOntoAFixedTextLeavesItUntouched) {
  // text <- text + "s", where text holds a fixed text: the new text is formed
  // first, the old value's release does nothing, the variable owns a block.
  char* text = const_cast<char*>(testrt::kConstants.fixed);
  char* joined = rt::TextJoin({text, "s"});
  rt::ReleaseBlock(text);
  text = joined;
  EXPECT_STREQ(text, "fixed texts");
  EXPECT_STREQ(testrt::kConstants.fixed, "fixed text");
  EXPECT_EQ(fake.CallCount("HeapFree"), 0);
  // Joined onto itself again: the old block is released after the new one exists.
  joined = rt::TextJoin({text, text});
  rt::ReleaseBlock(text);
  EXPECT_STREQ(joined, "fixed textsfixed texts");
  rt::ReleaseBlock(joined);
  EXPECT_EQ(fake.LiveBlocks(), 0u);
}

TEST_F(TextValues, CopyAndLength) {
  EXPECT_EQ(rt::TextLength(nullptr), 0);
  EXPECT_EQ(rt::TextLength(""), 0);
  EXPECT_EQ(rt::TextLength("\xB4\xED"), 2);  // bytes, not characters
  EXPECT_EQ(rt::TextCopy(nullptr), nullptr);
  char* e = rt::TextCopy("");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(fake.BlockSize(e), 1);
  EXPECT_STREQ(e, "");
  char* c = rt::TextCopy(testrt::kConstants.fixed);
  EXPECT_NE(c, testrt::kConstants.fixed);
  EXPECT_STREQ(c, "fixed text");
  EXPECT_EQ(fake.BlockSize(c), 11);
  rt::ReleaseBlock(e);
  rt::ReleaseBlock(c);
}

}  // namespace
