#include "tree/paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tree::NameCase;

// The part of a full path that names a file system's root, which is never a
// ROOT, and the folders above ROOT whose ignore files a run reads and a
// watch stamps: each must open as a folder, so a root keeps its '\'.
TEST(Paths, TheFileSystemsRootAndTheFoldersAboveRootInEveryForm) {
  const struct {
    const char* path;
    size_t rootLength;
    std::vector<std::string> above;
  } cases[] = {
      {"\\", 1, {}},
      {"\\home\\me", 1, {"\\", "\\home"}},
      {"\\home\\me\\", 1, {"\\", "\\home"}},
      {"C:\\", 3, {}},
      {"C:\\Mods\\MyMod", 3, {"C:\\", "C:\\Mods"}},
      {"\\\\?\\C:\\", 7, {}},
      {"\\\\?\\C:\\Mods", 7, {"\\\\?\\C:\\"}},
      {"\\\\server\\share", 14, {}},
      {"\\\\server\\share\\Mods\\MyMod", 14, {"\\\\server\\share\\", "\\\\server\\share\\Mods"}},
      {"\\\\?\\UNC\\server\\share", 20, {}},
      {"\\\\?\\UNC\\server\\share\\Mods", 20, {"\\\\?\\UNC\\server\\share\\"}},
      {"\\\\?\\Volume{1234}", 16, {}},
      {"\\\\?\\Volume{1234}\\Mods\\MyMod", 16, {"\\\\?\\Volume{1234}\\", "\\\\?\\Volume{1234}\\Mods"}},
      {"Mods", 0, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tree::FileSystemRootLength(c.path), c.rootLength) << c.path;
    EXPECT_EQ(tree::FoldersAbove(c.path), c.above) << c.path;
  }
}

// Folders below ROOT, by the rule of names exactly and in any case (upper
// case by the table the listing uses, beyond ASCII too).
TEST(Paths, FoldersBelowRootByEitherCaseRule) {
  EXPECT_EQ(tree::below::Join("", "A"), "A");
  EXPECT_EQ(tree::below::Join("A\\b", "c"), "A\\b\\c");
  EXPECT_EQ(tree::below::Parent("A\\b\\c"), "A\\b");
  EXPECT_EQ(tree::below::Parent("A"), "");
  EXPECT_EQ(tree::below::Leaf("A\\b\\c"), "c");
  EXPECT_EQ(tree::below::Leaf(""), "");
  EXPECT_EQ(tree::below::Names("A\\b\\c"), (std::vector<std::string_view>{"A", "b", "c"}));
  EXPECT_TRUE(tree::below::Names("").empty());

  const struct {
    const char* folder;
    const char* base;
    NameCase rule;
    bool within;
  } cases[] = {
      {"A\\b", "", NameCase::Exact, true},
      {"A", "A", NameCase::Exact, true},
      {"A\\b", "A", NameCase::Exact, true},
      {"AB", "A", NameCase::Exact, false},
      {"a\\b", "A", NameCase::Exact, false},
      {"a\\b", "A", NameCase::Any, true},
      {"AB\\c", "a", NameCase::Any, false},
      {"\xC3\xA4rger\\x", "\xC3\x84RGER", NameCase::Any, true},  // ärger under ÄRGER
      {"\xC3\xA4rger", "\xC3\x84RGER", NameCase::Exact, false},
      {"A", "A\\b", NameCase::Any, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tree::below::Within(c.folder, c.base, c.rule), c.within) << c.folder << " in " << c.base;
  }

  // Ordered in any case, names equal but for case are one key, and a
  // folder's sub-tree stays one range.
  const tree::NameLess anyCase{NameCase::Any};
  EXPECT_FALSE(anyCase("a\\B", "A\\b") || anyCase("A\\b", "a\\B"));
  EXPECT_TRUE(anyCase("A", "a\\b") && anyCase("a\\b", "A\\c"));
  EXPECT_TRUE(tree::SameName("\xC3\xA4", "\xC3\x84", NameCase::Any));
  EXPECT_FALSE(tree::SameName("\xFF", "\xFE", NameCase::Any));  // bytes that are no UTF-8: themselves
}

TEST(Paths, PathsAsShown) {
#ifdef _WIN32
  const char sep = '\\';
#else
  const char sep = '/';
#endif
  const std::string s(1, sep);
  EXPECT_EQ(tree::Shown("", "A"), "A");
  EXPECT_EQ(tree::Shown("Mods", "A"), "Mods" + s + "A");
  EXPECT_EQ(tree::Shown("Mods/", "A"), "Mods/A");
  EXPECT_EQ(tree::ShownBelow("", ""), ".");
  EXPECT_EQ(tree::ShownBelow("", "A\\b"), "." + s + "A" + s + "b");
  EXPECT_EQ(tree::ShownBelow("Mods", "A\\b"), "Mods" + s + "A" + s + "b");
}

}  // namespace
