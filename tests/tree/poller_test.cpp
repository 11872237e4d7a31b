// A poll pass over a real tree: which folders it finds changed, from their
// stamps and those of their manifest and ignore file.
#include "tree/poller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/platform/test_support.h"

namespace {

namespace fs = std::filesystem;
using tree::FolderChange;

// Every file and folder of the tree dated an hour back, so that only what a
// row changes is recent.
void AgeTree(const fs::path& root) {
  const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (auto& e : fs::recursive_directory_iterator(root)) fs::last_write_time(e.path(), past);
  fs::last_write_time(root, past);
}

TEST(Poller, FindsTheFoldersWhoseNamesManifestOrIgnoreFileMoved) {
  struct Row {
    const char* what;
    std::function<void(const platform_test::TempFolder&)> change;
    std::vector<FolderChange> expected;
    bool age = true;  // the tree dated back before the pass
  };
  const std::vector<Row> rows = {
      {"nothing changed", [](auto&) {}, {}},
      {"a file created", [](auto& t) { t.WriteFile("a/new.xml", ""); }, {{"a", false}}},
      {"a manifest appended to in place",
       [](auto& t) { std::ofstream(t.Native("a/zenter.xml"), std::ios::app) << "x"; }, {{"a", false}}},
      {"an ignore file made", [](auto& t) { t.WriteFile("a/.modmanifestignore", "x\n"); },
       {{"a", true}}},
      {"a sub-folder made: it is walked", [](auto& t) { t.MakeFolder("a/n"); },
       {{"a", false}, {"a\\n", true}}},
      {"a folder removed: its parent, and it is forgotten", [](auto& t) { fs::remove_all(t.Native("b")); },
       {{"", false}, {"b", true}}},
      {"a folder changed within the last second is listed again rather than trusted",
       [](auto&) {}, {{"", false}, {"a", false}, {"b", false}}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    platform_test::TempFolder t;
    t.MakeFolder("a");
    t.MakeFolder("b");
    t.WriteFile("a/zenter.xml", "<m/>");
    if (row.age) AgeTree(t.Native(""));
    os::FolderAccess& access = os::SystemFolders();
    os::FolderHandle root;
    ASSERT_EQ(access.OpenToKeep(t.Path(), &root), 0u);
    tree::Poller poller(access);
    for (const char* folder : {"", "a", "b"}) {
      os::FolderHandle handle;
      ASSERT_EQ(access.OpenBeneath(root, folder, &handle), 0u);
      poller.Add(folder, handle, "zenter.xml");
    }
    row.change(t);
    std::vector<FolderChange> found;
    poller.Pass(root, [&](FolderChange change) { tree::AddChange(&found, std::move(change)); });
    EXPECT_EQ(found, row.expected);
  }
}

}  // namespace
