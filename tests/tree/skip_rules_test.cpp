// Name patterns, hidden folders, the lines an ignore file cannot hold, and
// how the tool finds its ROOT when a double-click started it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/console.h"
#include "tree/name_pattern.h"
#include "tree/skip_rules.h"
#include "tree/cli.h"
#include "tree/ignore_file.h"
#include "tree/report_words.h"

namespace {

namespace fs = std::filesystem;

TEST(NamePattern, MatchesAsWindowsDoesOnEveryBuild) {
  const std::string longest(255, 'a');  // no file system takes a longer name
  const struct { std::string pattern, name; bool matches; } cases[] = {
      {".svn", ".SVN", true},      {"*.bak", "Units.bakery", false}, {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYcZ", false},  {"?", "", false},                 {"a?c", "a\xFF" "c", true},
      {"\xC3\xA4*", "\xC3\x84pfel", true},                  // ä* matches Äpfel
      {"??rger", "\xC3\x84rger", false},                    // Ä is one character
      {"\xE5\x8D\x95?", "\xE5\x8D\x95\xE4\xBD\x8D", true},  // 单? matches 单位
      {"\xCF\x83", "\xCE\xA3", true},                       // σ matches Σ
      {"\xC5\xBF", "S", false},                             // ſ stays itself
      {std::string(100000, '*'), longest, true},
      {std::string(100000, '*') + "?", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tree::NamePattern(c.pattern).Matches(c.name), c.matches) << c.pattern.substr(0, 20);
  }
}

TEST(SkipRules, HiddenFoldersAndTheLinesAnIgnoreFileCannotHold) {
  const tree::SkipRules::Shared top = tree::SkipRules::AtTop({"*.BAK"}, {}, false);
  const tree::SkipRules::Shared rules = tree::SkipRules::Beneath(top, {});
  tree::Failure problem;
  EXPECT_TRUE(rules->Skips(".git", 0) && rules->Skips("units.bak", 0));
  EXPECT_TRUE(rules->Skips("System Volume Information", os::kAttrDirectory | os::kAttrSystem));
  EXPECT_FALSE(rules->Skips("Art", os::kAttrDirectory));
  EXPECT_FALSE(tree::SkipRules::AtTop({}, {}, true)->Skips(".git", os::kAttrHidden));
  const struct { std::string bytes, problem; } bad[] = {
      {"x\n\xE4pfel\n", ", line 2: not valid UTF-8 (save the file as UTF-8)"},
      {std::string("a\0b\0", 4), ", line 1: holds a control character (save the file as UTF-8)"},
      {std::string(tree::kIgnoreFileLimit + 1, 'a'),
       ": larger than 1 MiB; not a list of folder-name patterns"},
  };
  for (const auto& b : bad) {
    std::vector<tree::NamePattern> patterns;
    EXPECT_FALSE(tree::ParseIgnoreFile(b.bytes, "M/.modmanifestignore", &patterns, &problem));
    EXPECT_EQ(tree::Words(problem), "M/.modmanifestignore" + b.problem);
  }
}

// The double-click prompt, through a console the test plays.
struct FakeConsole {
  static inline bool own = false;
  static inline const char* line = nullptr;
  static inline int reads = 0, waits = 0;
  static bool IsOwn() { return own; }
  static bool ReadLine(std::string* typed) {
    ++reads;
    *typed = line;
    return true;
  }
  static void Wait() { ++waits; }
};

TEST(TreeMain, AskedForItsFolderOnlyOnAConsoleOfItsOwn) {
  const os::Console real = os::TheConsole();
  os::TheConsole() = {FakeConsole::IsOwn, FakeConsole::ReadLine, FakeConsole::Wait};
  const fs::path top =
      fs::temp_directory_path() / ("mm-ask-" + std::to_string(std::random_device{}()));
  fs::create_directories(top / "cwd");
  fs::create_directories(top / "My Mod");
  std::ofstream(top / "My Mod" / "a.xml") << "<a/>";
  const fs::path before = fs::current_path();
  fs::current_path(top / "cwd");
  const std::string dropped = "  \"" + (top / "My Mod").string() + "\" ";
  const fs::path mod = top / "My Mod" / "zenter.xml", cwd = top / "cwd" / "zenter.xml";
  // A console of its own or not, the line typed, an option; the manifest the
  // run writes, if any; how often it read a line and waited for Enter.
  struct Case { bool own; const char *line, *option; fs::path written; int reads, waits; };
  const Case cases[] = {
      {true, dropped.c_str(), "-v", mod, 1, 1},  {true, "  ", "-v", {}, 1, 0},
      {false, "unused", "-q", cwd, 0, 0},        {true, dropped.c_str(), "-q", mod, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.line) + c.option);
    FakeConsole::own = c.own;
    FakeConsole::line = c.line;
    FakeConsole::reads = FakeConsole::waits = 0;
    EXPECT_EQ(tree::TreeMain({"modmanifest-tree", c.option}), 0);
    EXPECT_EQ(FakeConsole::reads, c.reads);
    EXPECT_EQ(FakeConsole::waits, c.waits);
    EXPECT_EQ(fs::remove(mod), mod == c.written);
    EXPECT_EQ(fs::remove(cwd), cwd == c.written);
  }
  fs::current_path(before);
  fs::remove_all(top);
  os::TheConsole() = real;
}

}  // namespace
