// The command line as a table: what each spelling asks for, and the usage
// errors that must stop a run before it writes anything.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tree/cli.h"

namespace {

TEST(ParseCommandLine, WhatEachSpellingAsksFor) {
  struct Case {
    std::vector<std::string> args;
    bool run;
    int status;
    std::string message;  // the start of it
  };
  const Case cases[] = {
      {{}, true, 0, ""},
      {{"--check", "Mod"}, true, 0, ""},
      {{"--exclude", "Build", "--exclude=*.bak", "--hidden", "-v", "--watch"}, true, 0, ""},
      {{"--version"}, false, 0, "1.0.0\n"},
      {{"--help"}, false, 0, "Writes the asset-declaration manifest"},
      {{"--exclude="}, false, 2, "modmanifest-tree: --exclude needs a pattern; it was empty"},
      {{"--exclude=", "--check"}, false, 2, "modmanifest-tree: --exclude needs a pattern"},
      {{"--exclude", ""}, false, 2, "modmanifest-tree: --exclude needs a pattern"},
      {{"--exclude", "a/b"}, false, 2, "modmanifest-tree: --exclude takes a folder-name pattern"},
      {{"--exclude", "a\\b"}, false, 2, "modmanifest-tree: --exclude takes a folder-name pattern"},
      {{""}, false, 2, "modmanifest-tree: ROOT is empty"},
      {{"--check", "--watch"}, false, 2, "modmanifest-tree: "},
      {{"-q", "-v"}, false, 2, "modmanifest-tree: "},
      {{"--frobnicate"}, false, 2, "modmanifest-tree: "},
      {{"A", "B"}, false, 2, "modmanifest-tree: "},
      {{"--", "--check"}, true, 0, ""},  // a folder named --check
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"modmanifest-tree"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const tree::ParsedCommandLine parsed = tree::ParseCommandLine(args);
    std::string shown;
    for (const std::string& a : c.args) shown += "[" + a + "]";
    EXPECT_EQ(parsed.run, c.run) << shown;
    EXPECT_EQ(parsed.status, c.status) << shown;
    EXPECT_EQ(parsed.message.substr(0, c.message.size()), c.message) << shown;
  }
  const tree::ParsedCommandLine full = tree::ParseCommandLine(
      {"modmanifest-tree", "--exclude", "Build", "--exclude=*.bak", "--check", "--hidden", "Mod"});
  EXPECT_EQ(full.options.excludes, (std::vector<std::string>{"Build", "*.bak"}));
  EXPECT_TRUE(full.options.check && full.options.hidden && !full.watch);
  EXPECT_EQ(full.options.root, "Mod");
  EXPECT_EQ(tree::ParseCommandLine({"modmanifest-tree", "--", "--check"}).options.root, "--check");
}

}  // namespace
