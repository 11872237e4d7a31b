// This build's folder access on the real file system: files read, made,
// renamed over and removed through the handle of their folder, opened
// through its parent's.
#include "platform/folder_access.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/path_parts.h"
#include "tests/platform/test_support.h"

namespace {

using platform_test::TempFolder;

// A file is read up to the limit and no further, whatever its size against
// the first read's 64 KiB; a folder and a missing name get their answers;
// a name in another case names the file where the system matches names in
// any case.
TEST(FolderAccess, ReadsUpToTheLimitThroughTheFolder) {
  TempFolder t;
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 23);
  t.WriteFile("big.xml", big);
  t.WriteFile("empty.xml", "");
  t.MakeFolder("sub");
  os::FolderAccess& access = os::SystemFolders();
  os::FolderHandle folder;
  std::string own;
  ASSERT_EQ(access.OpenRoot(t.Path(), &folder, &own), 0u);
  struct Row {
    const char* name;
    size_t limit;
    os::Dword error;
    size_t size;  // of big's start
  };
  const Row rows[] = {
      {"big.xml", 10, 0, 10},           {"big.xml", 65536, 0, 65536},
      {"big.xml", 65537, 0, 65537},     {"big.xml", 200000, 0, 200000},
      {"big.xml", 200001, 0, 200000},   {"big.xml", size_t{1} << 24, 0, 200000},
      {"empty.xml", 100, 0, 0},         {"sub", 100, os::kErrorIsFolder, 0},
      {"gone.xml", 100, os::kErrorFileNotFound, 0},
      {os::NamesAnyCase() ? "BIG.XML" : "big.xml", 7, 0, 7},
  };
  for (const Row& row : rows) {
    std::string bytes = "stale";
    EXPECT_EQ(access.ReadFile(folder, row.name, row.limit, &bytes), row.error)
        << row.name << " " << row.limit;
    EXPECT_EQ(bytes, big.substr(0, row.size)) << row.name << " " << row.limit;
  }
}

// In a folder opened through its parent's handle (by a name in another
// case where the system matches names in any case), a file is staged, put
// in its target's place over the old one, and another removed; the listing
// from the folder's handle shows what is there then, folders told from
// files, and the names' attributes are asked through it too.
TEST(FolderAccess, StagesReplacesAndRemovesThroughTheFoldersHandle) {
  TempFolder t;
  t.MakeFolder("Sub");
  t.MakeFolder("Sub/inner");
  t.WriteFile("Sub/zenter.xml", "old");
  t.WriteFile("Sub/left.tmp", "");
  os::FolderAccess& access = os::SystemFolders();
  os::FolderHandle root, sub, other;
  std::string own;
  ASSERT_EQ(access.OpenRoot(t.Path(), &root, &own), 0u);
  ASSERT_EQ(access.OpenSub(root, os::NamesAnyCase() ? "SUB" : "Sub", &sub), 0u);
  EXPECT_EQ(access.OpenSub(root, "gone", &other), os::kErrorPathNotFound);
  EXPECT_EQ(access.OpenSub(sub, "zenter.xml", &other), os::kErrorDirectory);

  os::StagedFile staged, again;
  ASSERT_EQ(access.Stage(sub, "new.tmp", "new", &staged), 0u);
  EXPECT_EQ(access.Stage(sub, "new.tmp", "again", &again), os::kErrorFileExists);
  ASSERT_EQ(access.Replace(sub, &staged, "zenter.xml"), 0u);
  EXPECT_TRUE(access.Remove(sub, "left.tmp"));
  EXPECT_FALSE(access.Remove(sub, "left.tmp"));
  EXPECT_EQ(t.ReadFile("Sub/zenter.xml"), "new");

  std::vector<os::ListedEntry> entries;
  ASSERT_EQ(access.List(sub, &entries), 0u);
  std::map<std::string, bool> listed;  // name: whether a folder
  for (const os::ListedEntry& e : entries) listed[e.name] = (e.attributes & os::kAttrDirectory) != 0;
  EXPECT_EQ(listed, (std::map<std::string, bool>{{"inner", true}, {"zenter.xml", false}}));
  EXPECT_EQ(access.FileAttributes(sub, "inner") & os::kAttrDirectory, os::kAttrDirectory);
  EXPECT_EQ(access.FileAttributes(sub, "zenter.xml") & os::kAttrDirectory, 0u);
  EXPECT_EQ(access.FileAttributes(sub, "gone"), os::kInvalidFileAttributes);
#ifdef _WIN32
  // Listed again from the same handle: what changed since, not what was.
  t.WriteFile("Sub/later.xml", "");
  ASSERT_EQ(access.List(sub, &entries), 0u);
  EXPECT_EQ(entries.size(), 3u);
#endif
}

}  // namespace
