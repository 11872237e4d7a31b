// This build's change source (inotify, or ReadDirectoryChangesW under Wine):
// file system changes in, raw changes out, each naming the watched folder,
// the name, and for a rename the cookie that pairs its halves.
#include "platform/change_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/process_control.h"
#include "tests/platform/test_support.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using os::ChangeKind;
using platform_test::TempFolder;

// Watches folder (relative to top) through a handle opened beneath it.
os::WatchStart Watch(os::ChangeSource& source, const os::FolderHandle& top, const std::string& folder) {
  os::FolderHandle handle;
  std::string problem;
  if (os::SystemFolders().OpenBeneath(top, folder, &handle) != 0) return os::WatchStart::Gone;
  return source.Watch(folder, handle, &problem);
}

// Collects raw changes until one matching want arrives or 20 s pass.
bool WaitFor(os::ChangeSource& source, std::vector<os::RawChange>* seen,
             const std::function<bool(const os::RawChange&)>& want) {
  const double end = os::Seconds() + 20;
  for (;;) {
    if (std::any_of(seen->begin(), seen->end(), want)) return true;
    const double left = end - os::Seconds();
    if (left <= 0) return false;
    std::string problem;
    const os::ChangeWait waited = source.Wait(static_cast<int>(left * 1000) + 1, seen, &problem);
    if (waited == os::ChangeWait::Failed || waited == os::ChangeWait::Interrupted) return false;
  }
}

TEST(ChangeSource, ReportsWhatHappenedToWhichNameInWhichFolder) {
  TempFolder t;
  t.MakeFolder("a");
  t.WriteFile("a/old.xml", "");
  std::string problem;
  bool limit = false;
  auto source = os::OpenChangeSource(t.Path(), &problem, &limit);
  ASSERT_NE(source, nullptr) << problem;
  os::FolderHandle top;
  ASSERT_EQ(os::SystemFolders().OpenToKeep(t.Path(), &top), 0u);
  for (const char* folder : {"", "a"}) ASSERT_EQ(Watch(*source, top, folder), os::WatchStart::Started);
  struct Row {
    const char* what;
    std::function<void()> change;
    ChangeKind kind;
    const char* folder;
    const char* name;
    os::EntryKind entry;  // where the system tells (Unknown: not checked)
  };
  const Row rows[] = {
      {"a file created", [&] { t.WriteFile("a/x.xml", "<x/>"); }, ChangeKind::Created, "a", "x.xml",
       os::EntryKind::File},
      {"a folder created", [&] { t.MakeFolder("b"); }, ChangeKind::Created, "", "b",
       os::EntryKind::Folder},
      {"a file written", [&] { t.WriteFile("a/old.xml", "<y/>"); }, ChangeKind::Modified, "a",
       "old.xml", os::EntryKind::File},
      {"a file removed", [&] { fs::remove(t.Native("a/x.xml")); }, ChangeKind::Removed, "a", "x.xml",
       os::EntryKind::Unknown},
      {"a rename, old half", [&] { fs::rename(t.Native("a/old.xml"), t.Native("a/new.xml")); },
       ChangeKind::RenamedFrom, "a", "old.xml", os::EntryKind::Unknown},
  };
  std::vector<os::RawChange> seen;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    seen.clear();
    row.change();
    EXPECT_TRUE(WaitFor(*source, &seen, [&](const os::RawChange& c) {
      return c.kind == row.kind && c.folder == row.folder && c.name == row.name &&
             (row.entry == os::EntryKind::Unknown || c.entry == row.entry);
    }));
  }
  // The rename's new half carries the old half's cookie.
  const auto from = std::find_if(seen.begin(), seen.end(), [](const os::RawChange& c) {
    return c.kind == ChangeKind::RenamedFrom;
  });
  ASSERT_NE(from, seen.end());
  EXPECT_TRUE(WaitFor(*source, &seen, [&](const os::RawChange& c) {
    return c.kind == ChangeKind::RenamedTo && c.name == "new.xml" && c.renameCookie != 0 &&
           c.renameCookie == from->renameCookie;
  }));
}

#ifndef _WIN32
// A queue the kernel caps at a few events, for this source only (the
// setting is read when a source is opened): a burst beyond it is reported
// as changes lost.
TEST(ChangeSource, ReportsLostChanges) {
  const char* setting = "/proc/sys/fs/inotify/max_queued_events";
  std::string saved;
  std::getline(std::ifstream(setting), saved);
  if (saved.empty() || !std::ofstream(setting)) GTEST_SKIP() << "cannot change " << setting;
  TempFolder t;
  std::string problem;
  bool limit = false;
  std::ofstream(setting) << "4\n";
  auto source = os::OpenChangeSource(t.Path(), &problem, &limit);
  std::ofstream(setting) << saved << "\n";
  ASSERT_NE(source, nullptr) << problem;
  os::FolderHandle top;
  ASSERT_EQ(os::SystemFolders().OpenToKeep(t.Path(), &top), 0u);
  ASSERT_EQ(Watch(*source, top, ""), os::WatchStart::Started);
  for (int i = 0; i < 20; ++i) t.WriteFile(std::to_string(i) + ".xml", "");
  std::vector<os::RawChange> seen;
  EXPECT_TRUE(WaitFor(*source, &seen, [](const os::RawChange& c) { return c.kind == ChangeKind::Lost; }));
}

// A folder's file system is asked again after a mount or unmount there,
// although the next mount often gets the device number the last one had: a
// FUSE mount where a tmpfs was is polled.
TEST(ChangeSource, AFolderMountedAgainIsKnownByItsNewFileSystem) {
  if (geteuid() != 0 || std::system("command -v bindfs >/dev/null") != 0 ||
      !std::filesystem::exists("/dev/fuse")) {
    GTEST_SKIP() << "needs root, bindfs and /dev/fuse";
  }
  TempFolder t;
  t.MakeFolder("m");
  t.MakeFolder("src");
  const std::string m = t.Native("m").string(), src = t.Native("src").string();
  auto reason = [&] {
    os::FolderHandle handle;
    EXPECT_EQ(os::SystemFolders().OpenToKeep(t.Path("m"), &handle), 0u);
    return os::UnreportedChangesReason(handle);
  };
  ASSERT_EQ(std::system(("mount -t tmpfs none '" + m + "'").c_str()), 0);
  EXPECT_EQ(reason(), "");
  ASSERT_EQ(std::system(("umount '" + m + "' && bindfs --no-allow-other '" + src + "' '" + m + "'").c_str()), 0);
  EXPECT_NE(reason().find("fuse"), std::string::npos);
  std::system(("umount '" + m + "'").c_str());
}

// A mount or unmount beneath the watched folder changes what it holds: the
// source says changes were lost, so the tree is looked at again. One
// elsewhere on the system says nothing.
TEST(ChangeSource, OnlyAMountBeneathTheWatchedFolderCounts) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount";
  TempFolder outside, t;
  t.MakeFolder("m");
  std::string problem;
  bool limit = false;
  auto source = os::OpenChangeSource(t.Path(), &problem, &limit);
  ASSERT_NE(source, nullptr) << problem;
  auto lost = [&](const std::string& command) {
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<os::RawChange> seen;
    for (int i = 0; i < 5; ++i) source->Wait(100, &seen, &problem);
    return std::any_of(seen.begin(), seen.end(), [](const os::RawChange& c) { return c.kind == ChangeKind::Lost; });
  };
  const std::string elsewhere = outside.Native("").string(), beneath = t.Native("m").string();
  EXPECT_FALSE(lost("mount -t tmpfs none '" + elsewhere + "'"));
  EXPECT_FALSE(lost("umount '" + elsewhere + "'"));
  EXPECT_TRUE(lost("mount -t tmpfs none '" + beneath + "'"));
  EXPECT_TRUE(lost("umount '" + beneath + "'"));
}
#endif

}  // namespace
