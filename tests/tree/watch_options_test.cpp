// --watch and --poll on the command line.
#include <gtest/gtest.h>

#include "tree/cli.h"

namespace {

TEST(WatchOptions, PollTakesItsSecondsOnlyAfterAnEqualsSign) {
  struct Row {
    std::vector<std::string> args;
    int status;
    double poll;
    const char* root;
  };
  const Row rows[] = {
      {{"--watch", "--poll", "Data"}, tree::kExitDone, 1, "Data"},
      {{"--watch", "--poll=0.5", "Data"}, tree::kExitDone, 0.5, "Data"},
      {{"--watch", "--poll=60"}, tree::kExitDone, 60, ""},
      {{"--watch", "Data"}, tree::kExitDone, 0, "Data"},
      {{"--watch", "--", "--poll"}, tree::kExitDone, 0, "--poll"},
      {{"--watch", "--poll=0.1"}, tree::kExitUsage, 0, ""},
      {{"--watch", "--poll=61"}, tree::kExitUsage, 0, ""},
      {{"--watch", "--poll=1s"}, tree::kExitUsage, 0, ""},
      {{"--watch", "--poll=nan"}, tree::kExitUsage, 0, ""},
      {{"--watch", "--poll=0x1"}, tree::kExitUsage, 0, ""},
      {{"--watch", "--poll= 1"}, tree::kExitUsage, 0, ""},
      {{"--watch", "--poll=1e0"}, tree::kExitUsage, 0, ""},
      {{"--watch", "--poll=", "Data"}, tree::kExitUsage, 0, ""},
      {{"--watch", "--poll=.5", "Data"}, tree::kExitDone, 0.5, "Data"},
      {{"--poll", "Data"}, tree::kExitUsage, 0, ""},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args{"modmanifest-tree"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    SCOPED_TRACE(::testing::PrintToString(row.args));
    const tree::ParsedCommandLine parsed = tree::ParseCommandLine(args);
    EXPECT_EQ(parsed.status, row.status) << parsed.message;
    if (row.status != tree::kExitDone) continue;
    EXPECT_TRUE(parsed.run);
    EXPECT_EQ(parsed.poll, row.poll);
    EXPECT_EQ(parsed.options.root, row.root);
  }
}

}  // namespace
