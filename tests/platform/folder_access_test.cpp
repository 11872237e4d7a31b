// This build's folder access on the real file system: files read, made,
// renamed over and removed through the handle of their folder, opened
// through its parent's.
#include "platform/folder_access.h"

#include <gtest/gtest.h>

#include <functional>
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
  ASSERT_EQ(access.OpenSub(root, os::NamesAnyCase() ? "SUB" : "Sub", 0, &sub), 0u);
  EXPECT_EQ(access.OpenSub(root, "gone", 0, &other), os::kErrorPathNotFound);
  EXPECT_EQ(access.OpenSub(sub, "zenter.xml", 0, &other), os::kErrorDirectory);

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
  // Opened and listed again: what changed since, not what was.
  t.WriteFile("Sub/later.xml", "");
  ASSERT_EQ(access.OpenSub(root, "Sub", 0, &other), 0u);
  ASSERT_EQ(access.List(other, &entries), 0u);
  EXPECT_EQ(entries.size(), 3u);
}

#ifdef _WIN32
// Runs a Unix program under Wine, in the folder where, as Wine starts one:
// with nothing to wait on, so done(), what it does, is waited for instead.
bool RunUnix(const wchar_t* program, std::wstring command, const std::filesystem::path& where,
             const std::function<bool()>& done) {
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION started;
  if (!::CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        where.wstring().c_str(), &startup, &started)) {
    return false;
  }
  ::CloseHandle(started.hProcess);
  ::CloseHandle(started.hThread);
  for (int waited = 0; waited < 1000 && !done(); ++waited) ::Sleep(10);
  return done();
}
#endif

// Makes the link at (relative to in) to target, as a user's tools would:
// under Wine with ln; on Windows a symbolic link where the account may make
// one. False where no link can be made.
bool MakeLink(const TempFolder& in, const std::string& target, const std::string& at) {
  const std::filesystem::path path = in.Native(at);
#ifdef _WIN32
  auto present = [&] { return ::GetFileAttributesW(path.wstring().c_str()) != INVALID_FILE_ATTRIBUTES; };
  if (platform_test::WineIgnoresReadOnly()) {
    return RunUnix(L"Z:\\bin\\ln",
                   L"ln -s " + std::filesystem::path(target).wstring() + L" " +
                       path.filename().wstring(),
                   path.parent_path(), present);
  }
  const bool folder = std::filesystem::is_directory(path.parent_path() / target);
  const std::wstring to = std::filesystem::path(target).make_preferred().wstring();
  return ::CreateSymbolicLinkW(path.wstring().c_str(), to.c_str(),
                               (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) |
                                   SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
#else
  std::filesystem::create_symlink(target, path);
  return true;
#endif
}

// A link put where a folder was listed, on the way to a folder, or under a
// leftover's name, leads nowhere: the listed folder is not taken for what
// the link leads to, no folder is opened through it, and removing the name
// never removes what it leads to.
TEST(FolderAccess, ALinkPutInPlaceSinceTheListingLeadsNowhere) {
  TempFolder t;
  for (const char* folder : {"Mod", "Mod/b", "outside", "outside/deep"}) t.MakeFolder(folder);
  t.WriteFile("outside/precious.xml", "PRECIOUS");
  const std::string leftover = "~mm0-1.tmp";
#ifdef _WIN32
  // A Windows program cannot remove a Unix link under Wine (and removing the
  // folder would go through it); rm can.
  struct Unlink {
    const TempFolder& t;
    std::wstring names;
    ~Unlink() {
      if (!platform_test::WineIgnoresReadOnly()) return;
      RunUnix(L"Z:\\bin\\rm", L"rm -f " + names, t.Native("Mod"),
              [&] { return !std::filesystem::exists(t.Native("Mod/via")); });
    }
  } unlink{t, L"b via " + std::wstring(leftover.begin(), leftover.end())};
#endif
  os::FolderAccess& access = os::SystemFolders();
  os::FolderHandle root, opened;
  std::string own;
  ASSERT_EQ(access.OpenRoot(t.Path("Mod"), &root, &own), 0u);
  std::vector<os::ListedEntry> entries;
  ASSERT_EQ(access.List(root, &entries), 0u);
  ASSERT_EQ(entries.size(), 1u);
  std::filesystem::rename(t.Native("Mod/b"), t.Native("Mod/b.real"));
  if (!MakeLink(t, "../outside", "Mod/b") || !MakeLink(t, "../outside", "Mod/via") ||
      !MakeLink(t, "../outside/precious.xml", "Mod/" + leftover)) {
    GTEST_SKIP() << "no symbolic link can be made here";
  }
  EXPECT_EQ(access.OpenSub(root, "b", entries[0].fileId, &opened), os::kErrorIsLink);
  EXPECT_EQ(access.OpenBeneath(root, "via\\deep", &opened), os::kErrorIsLink);
  EXPECT_EQ(access.OpenBeneath(root, "b", &opened), os::kErrorIsLink);
  access.Remove(root, leftover);
  EXPECT_EQ(t.ReadFile("outside/precious.xml"), "PRECIOUS");
}

}  // namespace
