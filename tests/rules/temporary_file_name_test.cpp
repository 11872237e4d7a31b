// The temporary-file names both programs write, and the rule that tells them
// from a user's files: a later run deletes what it takes for one of ours, so
// every near miss must be refused.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "rules/refused_target.h"
#include "rules/temporary_file_name.h"

namespace {

using Writer = rules::TemporaryFileWriter;

TEST(TemporaryFileName, WrittenNamesAreReadBackAndNothingElseIs) {
  const struct {
    Writer writer;
    os::Dword pid;
    unsigned long n;
    const char* name;
  } written[] = {
      {Writer::PerFolderProgram, 0x1a, 0, "~mm1a-0.tmp"},
      {Writer::TreeTool, 0x1a, 12, "~mmt1a-12.tmp"},
      {Writer::PerFolderProgram, 0, 99, "~mm0-99.tmp"},
      {Writer::TreeTool, 0xffffffffu, 4000000000ul, "~mmtffffffff-4000000000.tmp"},
      {Writer::PerFolderProgram, 0xabc, 7, "~mmabc-7.tmp"},
  };
  for (const auto& w : written) {
    EXPECT_EQ(rules::TemporaryFileName(w.writer, w.pid, w.n), w.name);
    const auto origin = rules::ParseTemporaryFileName(w.name);
    ASSERT_TRUE(origin.has_value()) << w.name;
    EXPECT_EQ(origin->writer, w.writer) << w.name;
    EXPECT_EQ(origin->processId, w.pid) << w.name;
    EXPECT_TRUE(rules::IsTemporaryFileName(w.name));
  }

  for (const char* name : {
           "~mm1a-.tmp",            // no n
           "~mm-0.tmp",             // no id
           "~mmt-0.tmp",            // no id after the tree tool's mark
           "~MM1A-0.TMP",           // upper case: not a name the programs write
           "~mm1A-0.tmp",           // an upper-case hex digit
           "~mm123456789-0.tmp",    // nine hex digits: no process id is that long
           "~mm01-0.tmp",           // a leading zero
           "~mmt00-0.tmp",
           "~mm1a-0.tmp.bak",       // something after .tmp
           "~mm1a-0.tmpx",
           "~mm1a-0x.tmp",          // n not decimal
           "~mm1a-+1.tmp",
           "~mm+1a-0.tmp",          // a sign
           "~mm1g-0.tmp",           // not hex
           "~mm1a_0.tmp",           // no dash
           "~mm1a-0-1.tmp",
           "~mmx1a-0.tmp",          // another mark than the tree tool's
           "x~mm1a-0.tmp",          // something before ~mm
           "~mm.tmp",
           "~mm1a-0",
           "",
       }) {
    EXPECT_EQ(rules::ParseTemporaryFileName(name), std::nullopt) << name;
    EXPECT_FALSE(rules::IsTemporaryFileName(name)) << name;
  }
}

// Either writer names the same reason for the same target, the most telling
// first.
TEST(RefusedTarget, ReasonByAttribute) {
  const struct {
    os::Dword attributes;
    const char* reason;
  } cases[] = {
      {os::kInvalidFileAttributes, nullptr},  // no target yet
      {os::kAttrArchive, nullptr},
      {os::kAttrNormal, nullptr},
      {os::kAttrDirectory | os::kAttrReadOnly | os::kAttrHidden, "is a folder"},
      {os::kAttrReadOnly | os::kAttrHidden | os::kAttrArchive, "is read-only"},
      {os::kAttrHidden | os::kAttrSystem, "is hidden"},
      {os::kAttrSystem | os::kAttrArchive, "is a system file"},
  };
  for (const auto& c : cases) {
    const char* reason = rules::RefusedTarget(c.attributes);
    EXPECT_EQ(reason == nullptr ? std::string("(none)") : std::string(reason),
              c.reason == nullptr ? std::string("(none)") : std::string(c.reason))
        << std::hex << c.attributes;
  }
}

}  // namespace
