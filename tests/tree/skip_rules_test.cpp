// What the walk skips (name patterns, hidden folders, ignore files and their
// scope) and how the tool finds its ROOT when a double-click started it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/tree_os.h"
#include "tree/name_pattern.h"
#include "tree/skip_rules.h"
#include "tree/tree_cli.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(NamePattern, MatchesAsWindowsDoesOnEveryBuild) {
  struct Case {
    std::string pattern;
    std::string name;
    bool matches;
  };
  const std::string stars(100000, '*');
  std::string alternating;
  for (int i = 0; i < 50000; ++i) alternating += "*a";
  alternating += "b";
  const std::string longest(255, 'a');  // no file system takes a longer name
  const Case cases[] = {
      {".svn", ".SVN", true},
      {"*.bak", "Units.bakery", false},
      {"*.bak", "old.BAK", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYcZ", false},
      {"?", "", false},
      {"*", "", true},
      {"\xC3\xA4*", "\xC3\x84pfel", true},         // ä* and Äpfel
      {"??rger", "\xC3\x84rger", false},           // Ä is one character
      {"?rger", "\xC3\x84rger", true},
      {"\xE5\x8D\x95?", "\xE5\x8D\x95\xE4\xBD\x8D", true},  // 单? and 单位
      {"\xCF\x83", "\xCE\xA3", true},              // σ and Σ
      {"\xC5\xBF", "S", false},                    // the long s stays itself
      {"a?c", "a\xFF" "c", true},                  // a stray byte is one character
      {"a\xFF" "c", "A\xFF" "C", true},
      {stars, "anything at all", true},
      {stars + "x", longest, false},
      {alternating, longest, false},
      {alternating, longest + "b", false},
      {"*" + longest + "b", longest + longest + "b", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern.substr(0, 20) + " / " + c.name.substr(0, 20));
    EXPECT_EQ(tree::NamePattern(c.pattern).Matches(c.name), c.matches);
  }
}

TEST(SkipRules, HiddenFoldersExcludesAndIgnoreFilesEachWithTheirScope) {
  tree::SkipRules rules({"*.BAK"}, false);
  std::string problem;
  ASSERT_TRUE(rules.Enter(std::nullopt, "", &problem));
  EXPECT_TRUE(rules.Skips(".git", 0));
  EXPECT_TRUE(rules.Skips("System Volume Information", os::kAttrDirectory | os::kAttrSystem));
  EXPECT_TRUE(rules.Skips("Secret", os::kAttrHidden));
  EXPECT_TRUE(rules.Skips("units.bak", 0));
  EXPECT_FALSE(rules.Skips("Art", os::kAttrDirectory));
  // A BOM, CR LF, comments, blanks and surrounding spaces.
  ASSERT_TRUE(rules.Enter("\xEF\xBB\xBF# kept out\r\n  Art  \r\n\r\n\t\nbuild*\n", "Mod/.modmanifestignore",
                          &problem));
  EXPECT_TRUE(rules.Skips("art", 0));
  EXPECT_TRUE(rules.Skips("Build-old", 0));
  EXPECT_FALSE(rules.Skips("# kept out", 0));
  ASSERT_TRUE(rules.Enter("", "Mod/Sub/.modmanifestignore", &problem));
  EXPECT_TRUE(rules.Skips("ART", 0));  // the parent's patterns hold beneath it
  rules.Leave();
  rules.Leave();
  EXPECT_FALSE(rules.Skips("Art", 0));  // but not beside it
  EXPECT_FALSE(tree::SkipRules({}, true).Skips(".git", os::kAttrHidden));

  struct Bad {
    std::string bytes;
    std::string problem;
  };
  const Bad bad[] = {
      {"ok\n\nArt/Old\n", "M/.modmanifestignore, line 3: a pattern names a folder, not a path: \"Art/Old\""},
      {"a\\b", "M/.modmanifestignore, line 1: a pattern names a folder, not a path: \"a\\b\""},
      {"x\n\xE4pfel\n", "M/.modmanifestignore, line 2: not valid UTF-8 (save the file as UTF-8)"},
      {"\xFF\xFE" "a\0b\0", "M/.modmanifestignore, line 1: not valid UTF-8 (save the file as UTF-8)"},
      {std::string("a\0b\0", 4), "M/.modmanifestignore, line 1: holds a control character (save the file as UTF-8)"},
      {std::string(tree::kIgnoreFileLimit + 1, 'a'),
       "M/.modmanifestignore: larger than 1 MiB; not a list of folder-name patterns"},
  };
  for (const Bad& b : bad) {
    std::string why;
    EXPECT_FALSE(rules.Enter(b.bytes, "M/.modmanifestignore", &why));
    EXPECT_EQ(why, b.problem);
  }
}

TEST(SkipRules, IgnoreFilesAboveRootHoldForTheWholeRun) {
  const fs::path top = fs::temp_directory_path() / ("mm-skip-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(top);
  Write(top / ".modmanifestignore", "Cache\n");
  Write(top / "a" / ".modmanifestignore", "# nothing\n");
  fs::create_directories(top / "a" / "Mod");
  std::string full;
  os::Dword error = 0;
  ASSERT_TRUE(os::tree::FullPath((top / "a" / "Mod").string(), &full, &error));
  std::string problem;
  tree::SkipRules rules({}, true);
  ASSERT_TRUE(rules.LoadAbove(full, &problem)) << problem;
  ASSERT_TRUE(rules.Enter(std::nullopt, "", &problem));
  EXPECT_TRUE(rules.Skips("cache", 0));
  Write(top / "a" / ".modmanifestignore", "\n\nx/y\n");
  EXPECT_FALSE(rules.LoadAbove(full, &problem));
  EXPECT_NE(problem.find(".modmanifestignore, line 3: a pattern names a folder"), std::string::npos)
      << problem;
  fs::remove_all(top);
}

// The double-click prompt, through a console the test plays.
struct FakeConsole {
  static inline bool own = false;
  static inline const char* line = nullptr;  // null: end of input
  static inline int reads = 0, waits = 0;
  static bool IsOwn() { return own; }
  static bool ReadLine(std::string* l) {
    ++reads;
    if (line != nullptr) *l = line;
    return line != nullptr;
  }
  static void Wait() { ++waits; }
};

TEST(TreeMain, AskedForItsFolderOnlyOnAConsoleOfItsOwn) {
  os::tree::Console& console = os::tree::TheConsole();
  const os::tree::Console real = console;
  console = {FakeConsole::IsOwn, FakeConsole::ReadLine, FakeConsole::Wait};
  const fs::path top = fs::temp_directory_path() / ("mm-ask-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(top);
  fs::create_directories(top / "cwd");
  Write(top / "My Mod" / "a.xml", "<a/>");
  const fs::path before = fs::current_path();
  fs::current_path(top / "cwd");
  const std::string dropped = "  \"" + (top / "My Mod").string() + "\" ";
  struct Case {
    bool own;
    const char* line;
    const char* quiet;
    fs::path written;  // the manifest the run writes, if any
    int reads, waits;
  };
  const Case cases[] = {
      {true, dropped.c_str(), "-v", top / "My Mod" / "zenter.xml", 1, 1},
      {true, "  ", "-v", {}, 1, 0},
      {true, nullptr, "-v", {}, 1, 0},
      {false, "unused", "-q", top / "cwd" / "zenter.xml", 0, 0},
      {true, dropped.c_str(), "-q", top / "My Mod" / "zenter.xml", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.line ? c.line : "(end)") + c.quiet);
    FakeConsole::own = c.own;
    FakeConsole::line = c.line;
    FakeConsole::reads = FakeConsole::waits = 0;
    EXPECT_EQ(tree::TreeMain({"modmanifest-tree", c.quiet}), 0);
    EXPECT_EQ(FakeConsole::reads, c.reads);
    EXPECT_EQ(FakeConsole::waits, c.waits);
    for (const fs::path& manifest : {top / "My Mod" / "zenter.xml", top / "cwd" / "zenter.xml"}) {
      EXPECT_EQ(fs::exists(manifest), manifest == c.written) << manifest;
      fs::remove(manifest);
    }
  }
  fs::current_path(before);
  fs::remove_all(top);
  console = real;
}

}  // namespace
