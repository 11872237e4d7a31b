// The manifest document: exact bytes for ASCII entries, escapes, UTF-8
// rendering of non-ASCII names, entries left out and why, and a
// well-formedness check of every document by an independent XML parser.
#include "rules/manifest_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"
#include "tests/rules/expected_document.h"

namespace {

using tests::ExpectWellFormed;
using tests::Expected;

class ManifestDocument : public ::testing::Test {
 protected:
  std::string Render(const std::vector<std::string>& entries) {
    std::string document = rules::RenderManifestText(entries);
    ExpectWellFormed(document);
    return document;
  }

  fake::FakePlatform fake;
};

TEST_F(ManifestDocument, FixedLinesAroundAsciiEntries) {
  const std::string empty = Render({});
  EXPECT_EQ(empty, Expected({}));
  // The reference includes are always there; with no entries two empty
  // lines stand where the generated lines would.
  EXPECT_NE(empty.find("audio.xml\" />\r\n\r\n\r\n </Includes>\r\n</AssetDeclaration>\r\n"),
            std::string::npos);

  EXPECT_EQ(Render({"a.xml", "b.xml", "S\\zenter.xml"}),
            Expected({"a.xml", "b.xml", "S\\zenter.xml"}));
  // Order, case, spaces and an empty entry are kept as given.
  EXPECT_EQ(Render({"Weapons\\zenter.xml", "B.XML", "my units.xml", ""}),
            Expected({"Weapons\\zenter.xml", "B.XML", "my units.xml", ""}));
}

TEST_F(ManifestDocument, MarkupCharactersAreEscaped) {
  EXPECT_EQ(Render({"R&D.xml", "a\"b\".xml", "<x>.xml", "it's.xml", "&amp;.xml"}),
            Expected({"R&amp;D.xml", "a&quot;b&quot;.xml", "&lt;x&gt;.xml", "it's.xml",
                      "&amp;amp;.xml"}));
  // Whitespace that attribute normalisation would turn into spaces.
  EXPECT_EQ(Render({"a\tb.xml", "c\nd\r.xml"}), Expected({"a&#9;b.xml", "c&#10;d&#13;.xml"}));
}

TEST_F(ManifestDocument, EntriesXmlCannotCarryAreLeftOut) {
  fake.ansiCodePage = os::kCodePageUtf8;
  EXPECT_EQ(Render({"a\x01.xml", "ok.xml", "b\x1f.xml", "\x1b"}), Expected({"ok.xml"}));
  // Malformed UTF-8: a stray continuation byte, a cut sequence, an overlong
  // slash, an encoded surrogate, a code point above U+10FFFF, and the
  // non-characters U+FFFE and U+FFFF.
  EXPECT_EQ(Render({"\x80.xml", "\xC3.xml", "\xC0\xAF.xml", "\xED\xA0\x80.xml",
                    "\xF4\x90\x80\x80.xml", "\xEF\xBF\xBE.xml", "\xEF\xBF\xBF.xml", "z.xml"}),
            Expected({"z.xml"}));
  // Preparing an entry says why it is left out, in the tree tool's words;
  // control characters are named before the bytes around them.
  const struct {
    const char* name;
    const char* why;
  } reasons[] = {
      {"R&D.xml", nullptr},
      {"a\x01.xml", "its name holds control characters"},
      {"\xC3\x1f", "its name holds control characters"},
      {"\xC3(", "its name is not valid UTF-8"},
      {"\xEF\xBF\xBE.xml", "its name is not valid UTF-8"},  // no XML character
  };
  rules::PreparedEntries prepared;
  for (const auto& r : reasons) {
    EXPECT_STREQ(prepared.AddFile(r.name), r.why) << r.name;
    EXPECT_STREQ(prepared.AddSubFolder(r.name), r.why) << r.name;
  }
  EXPECT_EQ(rules::RenderManifestText(prepared), Expected({"R&amp;D.xml", "R&amp;D.xml\\zenter.xml"}));
}

TEST_F(ManifestDocument, Utf8NamesStayAsTheyAre) {
  fake.ansiCodePage = os::kCodePageUtf8;
  const std::vector<std::string> names{"\xC3\xA9t\xC3\xA9.xml", "\xE6\xAD\xA6\xE5\x99\xA8.xml",
                                       "\xF0\x9F\x98\x80.xml", "\xC2\x85.xml"};
  EXPECT_EQ(Render(names), Expected(names));
}

TEST_F(ManifestDocument, AnsiNamesAreConvertedToUtf8) {
  fake.ansiCodePage = 1252;
  EXPECT_EQ(Render({"\xE9t\xE9.xml", "plain.xml", "R&\xC9.xml"}),
            Expected({"\xC3\xA9t\xC3\xA9.xml", "plain.xml", "R&amp;\xC3\x89.xml"}));

  // Under code page 936 a lead byte needs its trail byte: a name cut after
  // one, or with a byte that cannot follow one, is not a valid name there.
  fake.ansiCodePage = os::kCodePageGbk;
  // The fake converts each byte as Latin-1; which names are valid is code
  // page 936's.
  const std::string converted = "\xC3\x8E\xC3\xA4\xC3\x86\xC3\xB7.xml";
  EXPECT_EQ(Render({"\xCE\xE4\xC6\xF7.xml", "a\xCE.xml", "b\xCE", "c\xCE\x7F.xml"}),
            Expected({converted}));
  // A sub-folder's entry is rendered whole, as the per-folder run renders
  // it: there a name's last lead byte takes the separator as its trail byte.
  rules::PreparedEntries prepared;
  EXPECT_EQ(prepared.AddSubFolder("b\xCE"), nullptr);
  EXPECT_TRUE(rules::CanCarrySubFolder("b\xCE"));
  EXPECT_EQ(rules::RenderManifestText(prepared), Render({"b\xCE\\zenter.xml"}));
}

TEST_F(ManifestDocument, ManyEntriesInOrder) {
  std::vector<std::string> entries;
  for (int i = 0; i < 20000; ++i) {
    entries.push_back(i % 10 == 9 ? "dir" + std::to_string(i) + "\\zenter.xml"
                                  : "file" + std::to_string(i) + ".xml");
  }
  EXPECT_EQ(Render(entries), Expected(entries));
}

}  // namespace
