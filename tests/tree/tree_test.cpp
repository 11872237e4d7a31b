// The tree tool's pieces in-process over the fake platform: one folder's
// listing (exclusions, failures, a folder that is gone), the batched replace
// and what --check shows; and, on the real file system, what the Windows
// writer's deletion mark does.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/folder_access.h"
#include "tests/fake/fake_platform.h"
#include "tree/folder_listing.h"
#include "tree/manifest_diff.h"
#include "tree/manifest_writer.h"
#include "tree/skip_rules.h"
#include "tree/session.h"
#include "tests/tree/seam_folders.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace {

using fake::Entry;
constexpr os::Dword kFile = os::kAttrArchive;
constexpr os::Dword kDir = os::kAttrDirectory;
const std::string kFolder = "C:\\Mod\\Data";

// One listing gives both passes: the XML files in listing order, then the
// sub-folders; skipped folders are neither entries nor visited; links are
// entries but never visited; names a manifest cannot carry are left out
// with their reason.
TEST(FolderListing, BothPassesFromOneListing) {
  const os::Dword kLink = kDir | os::kAttrLink;
  const std::vector<os::ListedEntry> listed = {
      {"Art", kDir},          {"a.txt", kFile},        {"b.xml", kFile},
      {"Mod.xml", kFile},     {".svn", kDir | os::kAttrHidden},
      {"Units", kDir},        {"x.xml", kDir},         {"zenter.XML", kFile},
      {"Loop", kLink},        {"a\\b.xml", kFile},     {"bad\x01", kDir},
      {"\xff.xml", kFile},    {"c\\d", kDir},
  };
  struct Case {
    std::vector<std::string> excludes;
    bool hidden;
    std::vector<std::string> entries;
    std::vector<std::string> subFolders;
  };
  const Case cases[] = {
      {{}, true,
       {"b.xml", "zenter.XML", "Art\\zenter.xml", ".svn\\zenter.xml", "Units\\zenter.xml",
        "x.xml\\zenter.xml", "Loop\\zenter.xml"},
       {"Art", ".svn", "Units", "x.xml", "bad\x01"}},
      {{"u*", "LOOP", ".SVN", "nothing*"}, false,
       {"b.xml", "zenter.XML", "Art\\zenter.xml", "x.xml\\zenter.xml"},
       {"Art", "x.xml", "bad\x01"}},
  };
  for (const Case& c : cases) {
    const tree::SkipRules::Shared rules = tree::SkipRules::AtTop(c.excludes, {}, c.hidden);
    tree::FolderListing listing;
    tree::ReadListing(listed, "Mod.xml", *rules, &listing);
    EXPECT_EQ(listing.entries, c.entries);
    std::vector<std::string> visited;
    for (const tree::SubFolder& sub : listing.subFolders) visited.push_back(sub.name);
    EXPECT_EQ(visited, c.subFolders);
    std::vector<std::string> leftOut;
    for (const tree::LeftOut& out : listing.leftOut) leftOut.push_back(out.name + ": " + out.reason);
    EXPECT_EQ(leftOut, (std::vector<std::string>{
                           "a\\b.xml: its name holds \\", "\xff.xml: its name is not valid UTF-8",
                           "bad\x01: its name holds control characters", "c\\d: its name holds \\"}));
  }
}

struct Writes {
  std::vector<std::string> done;
  std::vector<std::string> failed;
  treetest::SeamFolders folders;
  tree::ManifestWriter Writer(size_t batch) {
    return tree::ManifestWriter(
        folders,
        [this](const tree::ManifestLabel& label, const tree::WriteFailure* failure) {
          (failure == nullptr ? done : failed).push_back(label.shown);
        },
        batch);
  }
  std::shared_ptr<const os::FolderHandle> Folder(const std::string& path) {
    return std::make_shared<const os::FolderHandle>(-1, path);
  }
};

TEST(ManifestWriter, ReplacesInBatchesAfterOneSyncEach) {
  fake::FakePlatform fake;
  fake.folders.insert({"C:\\A", "C:\\B", "C:\\C"});
  fake.files["C:\\A\\zenter.xml"].bytes = "old";
  Writes w;
  {
    tree::ManifestWriter writer = w.Writer(2);
    tree::WriteFailure failure;
    for (const char* folder : {"C:\\A", "C:\\B", "C:\\C"}) {
      ASSERT_TRUE(writer.Stage(w.Folder(folder), "zenter.xml", std::string("new ") + folder,
                               {"", folder}, &failure));
    }
    // The first two are in place; the third waits for the next commit.
    EXPECT_EQ(w.done, (std::vector<std::string>{"C:\\A", "C:\\B"}));
    EXPECT_EQ(fake.files.count("C:\\C\\zenter.xml"), 0u);
    writer.Commit();
  }
  EXPECT_EQ(w.done, (std::vector<std::string>{"C:\\A", "C:\\B", "C:\\C"}));
  // ~mmt<pid in hexadecimal>-<n>.tmp: never a name of the per-folder
  // program's, ~mm<hex pid>-<n>.tmp ('t' is no hex digit).
  EXPECT_EQ(fake.processId, 0x1092u);
  EXPECT_EQ(w.folders.syncs, (std::vector<std::vector<std::string>>{
                         {"C:\\A\\~mmt1092-0.tmp", "C:\\B\\~mmt1092-1.tmp"},
                         {"C:\\C\\~mmt1092-2.tmp"}}));
  EXPECT_EQ(fake.files["C:\\A\\zenter.xml"].bytes, "new C:\\A");
  EXPECT_EQ(fake.files.size(), 3u);  // no temporary file left
  EXPECT_EQ(fake.openFiles, 0);
}

TEST(ManifestWriter, AFailureLeavesTheTargetAndNoTemporaryFile) {
  struct Case {
    const char* label;
    os::Dword attributes;
    bool failMove;
    bool syncOk;
    bool abandon;
    bool staged;
  };
  const Case cases[] = {
      {"read-only target", os::kAttrReadOnly, false, true, false, false},
      {"hidden target", os::kAttrHidden, false, true, false, false},
      {"failed rename", kFile, true, true, false, true},
      {"failed sync", kFile, false, false, false, true},
      {"interrupted", kFile, false, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fake::FakePlatform fake;
    fake.folders.insert("C:\\A");
    fake.files["C:\\A\\zenter.xml"] = {"old", c.attributes};
    fake.failMove = c.failMove;
    Writes w;
    w.folders.syncOk = c.syncOk;
    {
      tree::ManifestWriter writer = w.Writer(10);
      tree::WriteFailure failure;
      EXPECT_EQ(writer.Stage(w.Folder("C:\\A"), "zenter.xml", "new", {"", "A"}, &failure),
                c.staged);
      if (c.abandon) writer.Abandon();
      writer.Commit();
    }
    EXPECT_EQ(fake.files.size(), 1u);
    EXPECT_EQ(fake.files["C:\\A\\zenter.xml"].bytes, "old");
    EXPECT_TRUE(w.done.empty());
    EXPECT_EQ(w.failed.size(), c.staged && !c.abandon ? 1u : 0u);
  }
}

// Where temporary files stay open until they replace their targets
// (Windows), each is marked for deletion while staged: closed without its
// rename, as when the process is ended from outside, it is gone; renamed, it
// stays as the manifest.
#ifdef _WIN32
TEST(ManifestWriter, AFileKeptOpenGoesWithItsHandleUnlessItReplacedItsTarget) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() /
                       ("mm-writer-" + std::to_string(os::Os().GetCurrentProcessId()));
  fs::create_directories(dir);
  const std::string folder = dir.string(), target = (dir / "zenter.xml").string();
  std::ofstream(target, std::ios::binary) << "old";
  auto names = [&dir] {
    std::vector<std::string> found;
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
      found.push_back(e.path().filename().string());
    }
    return found;
  };
  std::vector<std::string> done;
  os::FolderAccess& access = os::SystemFolders();
  auto held = std::make_shared<os::FolderHandle>();
  std::string ownName;
  ASSERT_EQ(access.OpenRoot(folder, held.get(), &ownName), 0u);
  {
    tree::ManifestWriter writer(
        access,
        [&done](const tree::ManifestLabel& label, const tree::WriteFailure* failure) {
          if (failure == nullptr) done.push_back(label.shown);
        },
        2);
    tree::WriteFailure failure;
    ASSERT_TRUE(writer.Stage(held, "zenter.xml", "lost", {"", "A"}, &failure));
    EXPECT_EQ(names().size(), 2u);
    writer.Abandon();  // closes the handle, and nothing else
    EXPECT_EQ(names(), std::vector<std::string>{"zenter.xml"});
    ASSERT_TRUE(writer.Stage(held, "zenter.xml", "new", {"", "A"}, &failure));
    writer.Commit();
  }
  EXPECT_EQ(done, std::vector<std::string>{"A"});
  EXPECT_EQ(names(), std::vector<std::string>{"zenter.xml"});
  std::ifstream in(target, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");
  in.close();
  held.reset();
  fs::remove_all(dir);
}
#endif

TEST(CompareIncludes, AddedAndRemovedLinesCountingRepeats) {
  const std::string a = "  <Include type=\"all\" source=\"a.xml\" />";
  const std::string b = " <Include type=\"all\" source=\"b.xml\" />";
  struct Case {
    std::string onDisk;
    std::string wanted;
    std::vector<std::string> added;
    std::vector<std::string> removed;
  };
  const std::string trimmedA = a.substr(2), trimmedB = b.substr(1);
  const Case cases[] = {
      {"", " <Includes>\r\n" + a + "\r\n" + b + "\r\n </Includes>\r\n", {trimmedA, trimmedB}, {}},
      {a + "\r\n" + b + "\r\n", b + "\r\n", {}, {trimmedA}},
      {a + "\n" + a + "\n", a + "\r\n", {}, {trimmedA}},
      {"<?xml?>\r\n" + a + "\r\n", "<?xml version?>\r\n" + a + "\r\n", {}, {}},
      {b + "\r\n" + a, a + "\r\n" + b + "\r\n", {}, {}},
  };
  for (const Case& c : cases) {
    tree::IncludeChanges changes = tree::CompareIncludes(c.onDisk, c.wanted);
    EXPECT_EQ(changes.added, c.added) << c.onDisk;
    EXPECT_EQ(changes.removed, c.removed) << c.onDisk;
  }
  // The same lines in another order, told from lines that agree.
  EXPECT_TRUE(tree::CompareIncludes(b + "\r\n" + a, a + "\r\n" + b + "\r\n").reordered);
  EXPECT_FALSE(tree::CompareIncludes("<?xml?>\r\n" + a, "<?xml version?>\r\n" + a).reordered);
}

// A fresh folder of the real file system for one test, removed after it.
class TempTree {
 public:
  TempTree() {
    static int counter = 0;
    root_ = std::filesystem::temp_directory_path() /
            ("mm-tree-" + std::to_string(os::Os().GetCurrentProcessId()) + "-" +
             std::to_string(counter++));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
  }
  ~TempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  std::filesystem::path Native(const std::string& name) const { return root_ / name; }
  void MakeFolder(const std::string& name) const { std::filesystem::create_directory(Native(name)); }
  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(Native(name), std::ios::binary) << bytes;
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(Native(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path root_;
};

// What a run reports, as a presenter other than the console sees it.
struct Recorder final : tree::Reporter {
  std::vector<std::string> written, failed;
  void Listed(const std::string&, const std::vector<tree::ListedFolder>&) override {}
  void Current(const std::string&) override {}
  void Written(const std::string&, const std::string& shown) override { written.push_back(shown); }
  void Stale(const std::string&, const std::string&, bool, const tree::IncludeChanges&) override {}
  void Failed(const std::string& folder, const std::string&) override { failed.push_back(folder); }
  void Noticed(const std::string&) override {}
  void Warned(const std::string&, const std::string&) override {}
  void LeftoverRemoved(const std::string&) override {}
  void Progress(const tree::Tally&, bool) override {}
  void Summary(const tree::Tally&, bool, double) override {}
  void Stopped() override {}
  void Problem(const std::string&) override {}
  void Watching(const std::string&) override {}
  void WatchNote(const std::string&) override {}
};

// The session over a real tree: a full run, then updates of chosen folders;
// the folders it visits and the manifests it writes are reported.
TEST(TreeSession, AFullRunThenUpdatesOfChosenFolders) {
  namespace fs = std::filesystem;
  TempTree t;
  for (const char* folder : {"Mod", "Mod/A", "Mod/B", "Mod/B/C", "Mod/X"}) t.MakeFolder(folder);
  t.WriteFile("Mod/A/x.xml", "<x/>");
  tree::Options options;
  options.root = t.Native("Mod").string();
  options.quiet = true;
  options.excludes = {"x"};
  Recorder reporter;
  tree::TreeSession session(options, reporter);
  std::vector<std::string> visited;
  session.OnFolderVisited([&](const std::string& folder) { visited.push_back(folder); });
  auto written = [&] {
    std::vector<std::string> relative;
    for (const std::string& shown : reporter.written) {
      relative.push_back(fs::path(shown).lexically_relative(options.root).generic_string());
    }
    return relative;
  };
  EXPECT_EQ(session.Update({{"", true}}), tree::kExitUsage);  // no run yet
  ASSERT_EQ(session.Run(), tree::kExitDone);
  EXPECT_EQ(visited, (std::vector<std::string>{"", "A", "B", "B\\C"}));
  EXPECT_EQ(written().size(), 4u);

  t.WriteFile("Mod/A/y.xml", "<y/>");
  t.WriteFile("Mod/B/C/z.xml", "<z/>");
  t.WriteFile("Mod/B/b.xml", "<b/>");
  visited.clear();
  reporter.written.clear();
  // A alone; B with its sub-tree; a folder that is gone and one that is
  // skipped are not written, and are no failure.
  EXPECT_EQ(session.Update({{"A", false}, {"B", true}, {"Gone", false}, {"X", true}}),
            tree::kExitDone);
  EXPECT_EQ(visited, (std::vector<std::string>{"A", "B", "B\\C"}));
  EXPECT_EQ(written(), (std::vector<std::string>{"A/zenter.xml", "B/zenter.xml", "B/C/zenter.xml"}));
  EXPECT_NE(t.ReadFile("Mod/A/zenter.xml").find("y.xml"), std::string::npos);
  EXPECT_FALSE(fs::exists(t.Native("Mod/X/zenter.xml")));
  // Current now: nothing more to write.
  reporter.written.clear();
  EXPECT_EQ(session.Update({{"", true}}), tree::kExitDone);
  EXPECT_TRUE(reporter.written.empty());
}

// Folders swapped, renamed or removed while the run works in the tree:
// nothing outside ROOT is ever written, and each change costs only its own
// folder. The visit of one folder is where the test changes the others, so
// no timing is involved.
TEST(TreeSession, WhatChangesDuringARunNeverLeadsOutOfRoot) {
  namespace fs = std::filesystem;
  TempTree t;
  for (const char* folder : {"Mod", "Mod/a", "Mod/b", "Mod/b/sub", "Mod/c", "Mod/d", "Mod/e",
                             "outside", "outside/sub"}) {
    t.MakeFolder(folder);
  }
  t.WriteFile("outside/zenter.xml", "PRECIOUS");
  tree::Options options;
  options.root = t.Native("Mod").string();
  options.quiet = true;
  Recorder reporter;
  tree::TreeSession session(options, reporter);
#ifdef _WIN32
  // The folders on the current path are held without delete sharing: none
  // of them can be renamed while their manifests are written.
  bool renamed = true;
  session.OnFolderVisited([&](const std::string& folder) {
    if (folder != "b\\sub") return;
    renamed = ::MoveFileW(t.Native("Mod/b").wstring().c_str(), t.Native("Mod/b2").wstring().c_str()) ||
              ::MoveFileW(t.Native("Mod").wstring().c_str(), t.Native("Mod2").wstring().c_str());
  });
  EXPECT_EQ(session.Run(), tree::kExitDone);
  EXPECT_FALSE(renamed);
  EXPECT_TRUE(fs::exists(t.Native("Mod/b/sub/zenter.xml")));
#else
  session.OnFolderVisited([&](const std::string& folder) {
    if (folder == "a") {  // b was listed as a folder; it becomes a link out
      fs::rename(t.Native("Mod/b"), t.Native("Mod/b.real"));
      fs::create_directory_symlink(t.Native("outside"), t.Native("Mod/b"));
    } else if (folder == "e") {  // c and d wait in the batch: one moves, one goes
      fs::rename(t.Native("Mod/c"), t.Native("Mod/c2"));
      fs::remove_all(t.Native("Mod/d"));
    }
  });
  EXPECT_EQ(session.Run(), tree::kExitDone);
  EXPECT_EQ(t.ReadFile("outside/zenter.xml"), "PRECIOUS");
  EXPECT_FALSE(fs::exists(t.Native("outside/sub/zenter.xml")));
  EXPECT_FALSE(fs::exists(t.Native("Mod/b.real/zenter.xml")));
  for (const char* written : {"Mod/zenter.xml", "Mod/a/zenter.xml", "Mod/c2/zenter.xml",
                              "Mod/e/zenter.xml"}) {
    EXPECT_TRUE(fs::is_regular_file(t.Native(written))) << written;
  }
  for (auto& e : fs::recursive_directory_iterator(t.Native(""))) {
    EXPECT_FALSE(e.path().filename().string().starts_with("~mm")) << e.path();
  }

  // Under a low open-file limit the deeper folders are let go and reopened
  // by name: a folder replaced meanwhile is not taken for the one listed.
  for (const char* folder : {"Deep", "Deep/a", "Deep/a/b", "Deep/a/b/c", "Deep/a/b/d"}) {
    t.MakeFolder(folder);
  }
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit low = saved;
  low.rlim_cur = 30;  // the walk then holds ROOT and one folder below it
  setrlimit(RLIMIT_NOFILE, &low);
  options.root = t.Native("Deep").string();
  tree::TreeSession deep(options, reporter);
  deep.OnFolderVisited([&](const std::string& folder) {
    if (folder != "a\\b\\c") return;
    fs::rename(t.Native("Deep/a/b"), t.Native("Deep/a/b.old"));
    fs::create_directories(t.Native("Deep/a/b/d"));
  });
  EXPECT_EQ(deep.Run(), tree::kExitDone);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_TRUE(fs::exists(t.Native("Deep/a/b.old/zenter.xml")));
  EXPECT_TRUE(fs::exists(t.Native("Deep/a/b.old/c/zenter.xml")));
  EXPECT_FALSE(fs::exists(t.Native("Deep/a/b/d/zenter.xml")));
  EXPECT_FALSE(fs::exists(t.Native("Deep/a/b.old/d/zenter.xml")));
#endif
}

#ifdef _WIN32
// A manifest another program holds open is waited for about half a second
// in all, then reported; the rest of the tree is still done. ROOT typed in
// another case gets the manifest its real name asks for.
TEST(TreeSession, AHeldManifestAndARootTypedInAnotherCase) {
  namespace fs = std::filesystem;
  TempTree t;
  for (const char* folder : {"Mod", "Mod/Data", "Mod/Data/Held", "Mod/Data/Free"}) t.MakeFolder(folder);
  t.WriteFile("Mod/Data/Held/zenter.xml", "old");
  HANDLE held = ::CreateFileW(t.Native("Mod/Data/Held/zenter.xml").wstring().c_str(), GENERIC_READ,
                              0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  tree::Options options;
  options.root = t.Native("mod").string() + "\\dATA";
  options.quiet = true;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(tree::RunTree(options), tree::kExitFailed);
  // Far below the 13 s that two nested retry loops took.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ::CloseHandle(held);
  EXPECT_EQ(t.ReadFile("Mod/Data/Held/zenter.xml"), "old");
  EXPECT_TRUE(fs::exists(t.Native("Mod/Data/Free/zenter.xml")));
  EXPECT_TRUE(fs::exists(t.Native("Mod/Data/Mod.xml")));
  EXPECT_FALSE(fs::exists(t.Native("Mod/Data/zenter.xml")));
}
#endif

}  // namespace
