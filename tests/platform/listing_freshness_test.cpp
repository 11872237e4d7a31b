// A listing always shows the folder as it is now, however often the same
// folder is listed: whatever a back-end keeps between listings of a folder
// must never hide a name added, removed or renamed since, nor an attribute
// changed since.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/platform/test_support.h"

namespace {

using platform_test::TempFolder;

const os::Platform& P() { return os::NativePlatform(); }

struct Listed {
  std::string name;
  os::Dword attributes;
  bool operator==(const Listed&) const = default;
};

std::vector<Listed> List(const std::string& pattern, int infoLevel) {
  std::vector<Listed> out;
  os::FindDataA data{};
  os::Handle h = P().FindFirstFileExA(pattern.c_str(), infoLevel, &data,
                                      os::kFindExSearchNameMatch, nullptr, 0);
  if (h == os::InvalidHandle()) return out;
  do {
    out.push_back({data.cFileName, data.dwFileAttributes});
  } while (P().FindNextFileA(h, &data));
  P().FindClose(h);
  return out;
}

std::vector<std::string> Names(const std::vector<Listed>& listed) {
  std::vector<std::string> names;
  for (const Listed& l : listed) names.push_back(l.name);
  return names;
}

void Touch(const std::filesystem::path& path) { std::ofstream(path) << "x"; }

TEST(ListingFreshness, ChangesToASettledFolderShowInTheNextListing) {
  TempFolder folder;
  Touch(folder.Native("b.xml"));
  Touch(folder.Native("a.xml"));
  std::filesystem::create_directory(folder.Native("Sub"));
  // Let the folder settle, so that a back-end may keep what it read.
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  const std::string all = folder.Path("*.*");
  const std::string xml = folder.Path("*.xml");

  const std::vector<std::string> first = {".", "..", "a.xml", "b.xml", "Sub"};
  EXPECT_EQ(Names(List(all, os::kFindExInfoBasic)), first);
  EXPECT_EQ(Names(List(all, os::kFindExInfoStandard)), first);
  EXPECT_EQ(Names(List(xml, os::kFindExInfoBasic)), (std::vector<std::string>{"a.xml", "b.xml"}));

  Touch(folder.Native("c.xml"));
  EXPECT_EQ(Names(List(xml, os::kFindExInfoBasic)),
            (std::vector<std::string>{"a.xml", "b.xml", "c.xml"}));
  std::filesystem::rename(folder.Native("a.xml"), folder.Native("d.xml"));
  EXPECT_EQ(Names(List(xml, os::kFindExInfoBasic)),
            (std::vector<std::string>{"b.xml", "c.xml", "d.xml"}));
  std::filesystem::remove(folder.Native("Sub"));
  EXPECT_EQ(Names(List(all, os::kFindExInfoBasic)),
            (std::vector<std::string>{".", "..", "b.xml", "c.xml", "d.xml"}));
}

TEST(ListingFreshness, BasicListingKeepsTheDirectoryAndHiddenBitsAndAttributesStayCurrent) {
  TempFolder folder;
  Touch(folder.Native("file.xml"));
  std::filesystem::create_directory(folder.Native("Dir"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  const std::string all = folder.Path("*.*");

  for (int level : {os::kFindExInfoBasic, os::kFindExInfoStandard}) {
    std::vector<Listed> listed = List(all, level);
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_NE(listed[0].attributes & os::kAttrDirectory, 0u);  // .
    EXPECT_NE(listed[2].attributes & os::kAttrDirectory, 0u);  // Dir
    EXPECT_EQ(listed[3].attributes & os::kAttrDirectory, 0u);  // file.xml
  }
  // A read-only file's attribute is current in a full listing even when the
  // folder itself did not change.
  std::filesystem::permissions(folder.Native("file.xml"), std::filesystem::perms::owner_write |
                                                              std::filesystem::perms::group_write |
                                                              std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  std::vector<Listed> listed = List(all, os::kFindExInfoStandard);
  ASSERT_EQ(listed.size(), 4u);
  EXPECT_EQ(listed[3].name, "file.xml");
  EXPECT_NE(listed[3].attributes & os::kAttrReadOnly, 0u);
}

}  // namespace
