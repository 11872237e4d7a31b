// The tree tool's pieces in-process over the fake platform: one folder's
// listing (exclusions, failures, a folder that is gone), the batched replace
// and what --check shows; and, on the real file system, what the Windows
// writer's deletion mark does.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "rules/manifest_document.h"
#include "platform/folder_access.h"
#include "tests/fake/fake_platform.h"
#include "tree/report_words.h"
#include "tree/error_text.h"
#include "tree/folder_listing.h"
#include "tree/manifest_diff.h"
#include "tree/manifest_writer.h"
#include "tree/outcome.h"
#include "tree/root.h"
#include "tree/skip_rules.h"
#include "tree/session.h"
#include "tests/tree/seam_folders.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/win32_listing.h"
#else
#include <sys/resource.h>

#include "platform/posix/posix_testing.h"
#endif

namespace {

using fake::Entry;
constexpr os::Dword kFile = os::kAttrArchive;
constexpr os::Dword kDir = os::kAttrDirectory;
const std::string kFolder = "C:\\Mod\\Data";

// One listing gives both passes: the XML files in listing order, then the
// sub-folders; skipped folders are neither entries nor visited; links are
// entries but never visited; names a manifest cannot carry are left out
// with their reason. Each name is rendered once, as it is sorted out: the
// manifest put together from those renderings must be the one the
// per-folder program renders from the same entries, and the walk's question
// whether a sub-folder can be carried must agree with the listing.
TEST(FolderListing, BothPassesFromOneListing) {
  const os::Dword kLink = kDir | os::kAttrLink;
  const std::vector<os::ListedEntry> listed = {
      {"Art", kDir},          {"a.txt", kFile},        {"b.xml", kFile},
      {"Mod.xml", kFile},     {".svn", kDir | os::kAttrHidden},
      {"Units", kDir},        {"x.xml", kDir},         {"zenter.XML", kFile},
      {"Loop", kLink},        {"a\\b.xml", kFile},     {"bad\x01", kDir},
      {"\xff.xml", kFile},    {"c\\d", kDir},          {"R&D \"1\".xml", kFile},
      {"Mod.xml", kDir},      {"t\tab\r.xml", kFile},  {"<\xC3\xA9>", kDir},
      {"\xC3", kDir},         {"c\x1f.xml", kFile},
  };
  struct Case {
    std::vector<std::string> excludes;
    bool hidden;
    std::vector<std::string> entries;
    std::vector<std::string> subFolders;
  };
  const Case cases[] = {
      {{}, true,
       {"b.xml", "zenter.XML", "R&D \"1\".xml", "t\tab\r.xml", "Art\\zenter.xml",
        ".svn\\zenter.xml", "Units\\zenter.xml", "x.xml\\zenter.xml", "Loop\\zenter.xml",
        "Mod.xml\\zenter.xml", "<\xC3\xA9>\\zenter.xml"},
       {"Art", ".svn", "Units", "x.xml", "bad\x01", "Mod.xml", "<\xC3\xA9>", "\xC3"}},
      {{"u*", "LOOP", ".SVN", "nothing*", "<*"}, false,
       {"b.xml", "zenter.XML", "R&D \"1\".xml", "t\tab\r.xml", "Art\\zenter.xml",
        "x.xml\\zenter.xml", "Mod.xml\\zenter.xml"},
       {"Art", "x.xml", "bad\x01", "Mod.xml", "\xC3"}},
  };
  for (const Case& c : cases) {
    const tree::SkipRules::Shared rules = tree::SkipRules::AtTop(c.excludes, {}, c.hidden);
    tree::FolderListing listing;
    tree::ReadListing(listed, "Mod.xml", *rules, &listing);
    EXPECT_EQ(tree::RenderManifest(listing), rules::RenderManifestText(c.entries));
    std::vector<std::string> visited;
    for (const tree::SubFolder& sub : listing.subFolders) {
      visited.push_back(sub.name);
      const bool entry = std::find(c.entries.begin(), c.entries.end(),
                                   sub.name + "\\zenter.xml") != c.entries.end();
      EXPECT_EQ(rules::CanCarrySubFolder(sub.name), entry) << sub.name;
    }
    EXPECT_EQ(visited, c.subFolders);
    std::vector<std::string> leftOut;
    for (const tree::LeftOut& out : listing.leftOut) leftOut.push_back(out.name + ": " + out.reason);
    EXPECT_EQ(leftOut, (std::vector<std::string>{
                           "a\\b.xml: its name holds \\", "\xff.xml: its name is not valid UTF-8",
                           "c\x1f.xml: its name holds control characters",
                           "bad\x01: its name holds control characters", "c\\d: its name holds \\",
                           "\xC3: its name is not valid UTF-8"}));
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

// A batch whose sync fails for one folder (its file system, or the folder
// removed meanwhile) costs only that folder's manifest; a removed folder is
// told apart, as it is no failure.
TEST(ManifestWriter, ASyncThatFailsForOneFolderCostsOnlyThatFolder) {
  for (const bool removed : {false, true}) {
    SCOPED_TRACE(removed ? "folder removed" : "sync failed");
    fake::FakePlatform fake;
    fake.folders.insert({"C:\\A", "C:\\B", "C:\\C"});
    treetest::SeamFolders folders;
    folders.syncFailsFor = "C:\\B";
    std::vector<std::string> done;
    std::vector<os::Dword> errors;
    {
      tree::ManifestWriter writer(
          folders,
          [&](const tree::ManifestLabel& label, const tree::WriteFailure* failure) {
            done.push_back(label.shown);
            errors.push_back(failure == nullptr ? 0 : failure->error);
          },
          10);
      tree::WriteFailure failure;
      for (const char* folder : {"C:\\A", "C:\\B", "C:\\C"}) {
        ASSERT_TRUE(writer.Stage(std::make_shared<const os::FolderHandle>(-1, folder), "zenter.xml",
                                 "new", {"", folder}, &failure));
      }
      if (removed) {
        fake.files.erase("C:\\B\\~mmt1092-1.tmp");
        fake.folders.erase("C:\\B");
      }
      writer.Commit();
    }
    EXPECT_EQ(done, (std::vector<std::string>{"C:\\A", "C:\\B", "C:\\C"}));
    EXPECT_EQ(errors, (std::vector<os::Dword>{
                          0, removed ? os::kErrorPathNotFound : os::kErrorAccessDenied, 0}));
    EXPECT_EQ(fake.files.count("C:\\A\\zenter.xml") + fake.files.count("C:\\C\\zenter.xml"), 2u);
    EXPECT_EQ(fake.files.count("C:\\B\\zenter.xml"), 0u);
  }
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

// Every error a message names has words: the tool's own, else the system's
// with the number beside them, never the number alone.
TEST(ErrorText, EveryErrorHasWords) {
  const struct { os::Dword error; std::string starts, ends; } cases[] = {
      {os::kErrorAccessDenied, "access denied", "access denied"},
      {os::kErrorNotRegularFile, "is not a regular file", "is not a regular file"},
      // ERROR_GEN_FAILURE, which Windows gives past its path limit.
      {31, "", " (error 31)"},
      {0x7FFF0000, "an error the system has no text for", " (error 2147418112)"},
  };
  for (const auto& c : cases) {
    const std::string text = tree::ErrorText(c.error);
    EXPECT_TRUE(text.starts_with(c.starts) && text.ends_with(c.ends)) << text;
    EXPECT_FALSE(text.starts_with("error")) << text;
    EXPECT_TRUE(text[0] < 'A' || text[0] > 'Z') << text;  // it follows a colon
  }
}

// What the console shows of a name: control characters and bytes that are
// not UTF-8 escaped, every other character as it is.
TEST(ReportWords, ControlCharactersAreShownEscaped) {
  const struct { std::string line, shown; } cases[] = {
      {"Mod/\x1b]0;owned\x07/zenter.xml", "Mod/\\x1b]0;owned\\x07/zenter.xml"},
      {"a\nb\rc\td", "a\\x0ab\\x0dc\\x09d"},
      {"\xC3\x84rger \xE5\x8D\x95\xF0\x9F\x9A\x80", "\xC3\x84rger \xE5\x8D\x95\xF0\x9F\x9A\x80"},
      {"csi\xC2\x9B""2J del\x7F", "csi\\u009b2J del\\x7f"},
      {"raw\x9B\xFF", "raw\\x9b\\xff"},
      {std::string("nul\0", 4), "nul\\x00"},
  };
  for (const auto& c : cases) EXPECT_EQ(tree::ForPerson(c.line), c.shown);
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

#ifndef _WIN32
// A folder being removed as the batch waits (rm -r takes its files first,
// the staged one among them, then the folder) has vanished: no failure.
TEST(ManifestWriter, AFolderRemovedWhileItsManifestWaitsHasVanished) {
  for (const bool folderToo : {false, true}) {
    SCOPED_TRACE(folderToo ? "folder removed" : "its files removed");
    TempTree t;
    t.MakeFolder("A");
    os::FolderAccess& access = os::SystemFolders();
    auto folder = std::make_shared<os::FolderHandle>();
    std::string name;
    ASSERT_EQ(access.OpenRoot(t.Native("A").string(), folder.get(), &name), 0u);
    std::vector<os::Dword> errors;
    {
      tree::ManifestWriter writer(
          access,
          [&](const tree::ManifestLabel&, const tree::WriteFailure* failure) {
            errors.push_back(failure == nullptr ? 0 : failure->error);
          },
          10);
      tree::WriteFailure failure;
      ASSERT_TRUE(writer.Stage(folder, "zenter.xml", "new", {"A", "A"}, &failure));
      for (const auto& e : std::filesystem::directory_iterator(t.Native("A"))) std::filesystem::remove(e);
      if (folderToo) std::filesystem::remove(t.Native("A"));
      writer.Commit();
    }
    EXPECT_EQ(errors, std::vector<os::Dword>{os::kErrorPathNotFound});
  }
}
#endif

// What a run reports, as a presenter other than the console sees it.
struct Recorder final : tree::Reporter {
  std::vector<std::string> written, failed, noticed;
  std::vector<tree::IncludeChanges> stale;
  void Listed(const std::string&, const std::vector<tree::ListedFolder>&) override {}
  void Current(const std::string&, const std::string&) override {}
  void Written(const std::string&, const std::string& shown) override { written.push_back(shown); }
  void Stale(const std::string&, const std::string&, bool, const tree::IncludeChanges& c) override {
    stale.push_back(c);
  }
  void Failed(const std::string& folder, const tree::Failure&) override { failed.push_back(folder); }
  void Noticed(const tree::Notice& notice) override { noticed.push_back(tree::Words(notice)); }
  void Warned(const std::string&, const tree::Warning&) override {}
  void LeftoverRemoved(const std::string&) override {}
  void Progress(const tree::Tally&, bool) override {}
  void Summary(const tree::Tally&, bool, double) override {}
  void Stopped() override {}
  void Problem(const tree::RunProblem&) override {}
  void Watching(const std::string&) override {}
  void WatchNote(const tree::Note&) override {}
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
  options.excludes = {"x"};
  Recorder reporter;
  tree::TreeSession session(options, reporter);
  std::vector<std::string> visited;
  session.OnFolderVisited(
      [&](const std::string& folder, const os::FolderHandle&) { visited.push_back(folder); });
  auto written = [&] {
    std::vector<std::string> relative;
    for (const std::string& shown : reporter.written) {
      relative.push_back(fs::path(shown).lexically_relative(options.root).generic_string());
    }
    return relative;
  };
  EXPECT_EQ(session.Update({{"", true}}).status, tree::kExitUsage);  // no run yet
  ASSERT_EQ(session.Run().status, tree::kExitDone);
  EXPECT_EQ(visited, (std::vector<std::string>{"", "A", "B", "B\\C"}));
  EXPECT_EQ(written().size(), 4u);

  t.WriteFile("Mod/A/y.xml", "<y/>");
  t.WriteFile("Mod/B/C/z.xml", "<z/>");
  t.WriteFile("Mod/B/b.xml", "<b/>");
  visited.clear();
  reporter.written.clear();
  // A alone; B with its sub-tree; a folder that is gone and one that is
  // skipped are not written, and are no failure.
  EXPECT_EQ(session.Update({{"A", false}, {"B", true}, {"Gone", false}, {"X", true}}).status,
            tree::kExitDone);
  EXPECT_EQ(visited, (std::vector<std::string>{"A", "B", "B\\C"}));
  EXPECT_EQ(written(), (std::vector<std::string>{"A/zenter.xml", "B/zenter.xml", "B/C/zenter.xml"}));
  EXPECT_NE(t.ReadFile("Mod/A/zenter.xml").find("y.xml"), std::string::npos);
  EXPECT_FALSE(fs::exists(t.Native("Mod/X/zenter.xml")));
  // Current now: nothing more to write.
  reporter.written.clear();
  EXPECT_EQ(session.Update({{"", true}}).status, tree::kExitDone);
  EXPECT_TRUE(reporter.written.empty());
}

#ifndef _WIN32
// While armed, counts allocations and refuses the nth, as an exhausted heap
// would.
bool g_armed = false;
long g_refuseAt = 0;
long g_allocations = 0;
bool RefuseTheNth(size_t) { return g_armed && ++g_allocations == g_refuseAt; }

// Memory running out anywhere in a run ends the run, not the process: with
// each allocation of a run refused in turn, the session returns the outcome,
// every manifest is the old one or the complete new one, and no temporary
// file is left.
TEST(TreeSession, MemoryRunningOutEndsTheRunNotTheProcess) {
  namespace fs = std::filesystem;
  TempTree t;
  for (const char* folder : {"Mod", "Mod/A", "Mod/A/B"}) t.MakeFolder(folder);
  for (const char* file : {"Mod/a.xml", "Mod/A/b.xml", "Mod/A/B/c.xml"}) t.WriteFile(file, "<x/>");
  tree::Options options;
  options.root = t.Native("Mod").string();
  Recorder reporter;
  ASSERT_EQ(tree::TreeSession(options, reporter).Run().status, tree::kExitDone);
  const std::vector<std::string> manifests = {"Mod/zenter.xml", "Mod/A/zenter.xml",
                                              "Mod/A/B/zenter.xml"};
  std::vector<std::string> complete;
  for (const std::string& manifest : manifests) complete.push_back(t.ReadFile(manifest));

  const os::OutOfMemoryHandler previous = os::SetOutOfMemoryHandler(&tree::UnwindOnOutOfMemory);
  const os::posix::AllocationRefusal refusal = os::posix::ReplaceAllocationRefusal(&RefuseTheNth);
  long runOutOfMemory = 0;
  // The first pass refuses nothing and counts.
  for (long n = 0, all = 1; n <= all; ++n) {
    for (const std::string& manifest : manifests) t.WriteFile(manifest, "old");
    Recorder quiet;
    tree::TreeSession session(options, quiet);
    g_allocations = 0;
    g_refuseAt = n;
    g_armed = true;
    const tree::Outcome outcome = session.Run();
    g_armed = false;
    if (n == 0) all = g_allocations;
    if (all == 0) {
      // Another allocator stands in for the program's own (valgrind's):
      // nothing can be refused.
      os::posix::ReplaceAllocationRefusal(refusal);
      os::SetOutOfMemoryHandler(previous);
      GTEST_SKIP() << "this process's allocations do not reach the program's allocator";
    }
    // A refusal the back-end gets round (a smaller buffer) changes nothing.
    if (outcome != tree::Outcome{tree::kExitDone}) {
      ASSERT_EQ(outcome, (tree::Outcome{tree::kExitFailed, tree::StopReason::OutOfMemory})) << n;
      ++runOutOfMemory;
    }
    for (size_t i = 0; i < manifests.size(); ++i) {
      const std::string bytes = t.ReadFile(manifests[i]);
      EXPECT_TRUE(bytes == "old" || bytes == complete[i]) << manifests[i] << ", allocation " << n;
    }
    for (auto& e : fs::recursive_directory_iterator(t.Native("Mod"))) {
      EXPECT_FALSE(e.path().filename().string().starts_with("~mm")) << e.path() << ", allocation " << n;
    }
  }
  os::posix::ReplaceAllocationRefusal(refusal);
  os::SetOutOfMemoryHandler(previous);
  EXPECT_GT(runOutOfMemory, 50) << "hardly an allocation refused";
}
#endif

// --check lists the include lines that writing would change from the whole
// old manifest, not from as much of it as could still be equal; one too
// large to read whole is named stale without lines.
TEST(TreeSession, CheckComparesTheWholeOldManifest) {
  auto line = [](const char* name) {
    return std::string("<Include type=\"all\" source=\"") + name + "\" />";
  };
  struct Case {
    const char* label;
    std::vector<const char*> removed;
    size_t appended;  // bytes of blanks after the manifest's end
    std::vector<std::string> added, gone;
    bool compared;
  };
  const Case cases[] = {
      {"the first of three deleted", {"a.xml"}, 0, {}, {line("a.xml")}, true},
      {"two deleted", {"a.xml", "b.xml"}, 0, {}, {line("a.xml"), line("b.xml")}, true},
      {"a long tail after the end", {}, 1000, {}, {}, true},
      {"larger than 16 MiB", {"c.xml"}, size_t{16} << 20, {}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempTree t;
    t.MakeFolder("ck");
    for (const char* name : {"a.xml", "b.xml", "c.xml"}) t.WriteFile("ck/" + std::string(name), "<x/>");
    tree::Options options;
    options.root = t.Native("ck").string();
    Recorder reporter;
    ASSERT_EQ(tree::TreeSession(options, reporter).Run().status, tree::kExitDone);
    for (const char* name : c.removed) std::filesystem::remove(t.Native("ck/" + std::string(name)));
    std::ofstream(t.Native("ck/zenter.xml"), std::ios::binary | std::ios::app)
        << std::string(c.appended, ' ');
    options.check = true;
    EXPECT_EQ(tree::TreeSession(options, reporter).Run().status, tree::kExitFailed);
    ASSERT_EQ(reporter.stale.size(), 1u);
    EXPECT_EQ(reporter.stale[0].added, c.added);
    EXPECT_EQ(reporter.stale[0].removed, c.gone);
    EXPECT_EQ(reporter.stale[0].notCompared == nullptr, c.compared);
  }
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
  Recorder reporter;
  tree::TreeSession session(options, reporter);
#ifdef _WIN32
  // The folders on the current path are held without delete sharing: none
  // of them can be renamed while their manifests are written.
  bool renamed = true;
  // Under Wine a Unix link put where c was listed is followed by an open
  // told not to follow it. ln is started as Wine starts a Unix program,
  // which leaves no handle to wait on: what it does is waited for instead.
  // (A Windows program cannot remove that link under Wine; rm can.)
  auto cIsLink = [&] {
    const DWORD attributes = ::GetFileAttributesW(t.Native("Mod/c").wstring().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  };
  auto unixCommand = [&](const wchar_t* program, std::wstring command, bool link) {
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION started;
    ASSERT_TRUE(::CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 t.Native("Mod").wstring().c_str(), &startup, &started));
    ::CloseHandle(started.hProcess);
    ::CloseHandle(started.hThread);
    for (int waited = 0; waited < 1000 && cIsLink() != link; ++waited) ::Sleep(10);
  };
  session.OnFolderVisited([&](const std::string& folder, const os::FolderHandle&) {
    if (folder == "a" && os::win32::UnderWine() &&
        ::MoveFileW(t.Native("Mod/c").wstring().c_str(), t.Native("Mod/c.real").wstring().c_str())) {
      unixCommand(L"Z:\\bin\\ln", L"ln -s ../outside c", true);
    }
    if (folder != "b\\sub") return;
    renamed = ::MoveFileW(t.Native("Mod/b").wstring().c_str(), t.Native("Mod/b2").wstring().c_str()) ||
              ::MoveFileW(t.Native("Mod").wstring().c_str(), t.Native("Mod2").wstring().c_str());
  });
  EXPECT_EQ(session.Run().status, tree::kExitDone);
  EXPECT_FALSE(renamed);
  EXPECT_TRUE(fs::exists(t.Native("Mod/b/sub/zenter.xml")));
  EXPECT_EQ(t.ReadFile("outside/zenter.xml"), "PRECIOUS");
  EXPECT_FALSE(fs::exists(t.Native("outside/sub/zenter.xml")));
  if (os::win32::UnderWine()) {
    EXPECT_TRUE(cIsLink());
    unixCommand(L"Z:\\bin\\rm", L"rm c", false);
  }
#else
  session.OnFolderVisited([&](const std::string& folder, const os::FolderHandle&) {
    if (folder == "a") {  // b was listed as a folder; it becomes a link out
      fs::rename(t.Native("Mod/b"), t.Native("Mod/b.real"));
      fs::create_directory_symlink(t.Native("outside"), t.Native("Mod/b"));
    } else if (folder == "e") {  // c and d wait in the batch: one moves, one goes
      fs::rename(t.Native("Mod/c"), t.Native("Mod/c2"));
      fs::remove_all(t.Native("Mod/d"));
    }
  });
  EXPECT_EQ(session.Run().status, tree::kExitDone);
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

  // Under a low open-file limit the walk holds only the deepest folders on
  // its path; one let go is reopened on the way back from the folder below
  // it (its "..") while that is still the folder listed, else by name from
  // above, where a folder put in its place meanwhile is not taken for it.
  struct Moves {
    const char* root;
    std::vector<std::pair<const char*, const char*>> renames;
    std::vector<const char*> written, untouched;
    std::vector<std::string> noticed;
  };
  const Moves moves[] = {
      {"Deep1", {{"a/b", "a/b.old"}}, {"a/b.old/d", "a/b.old/c/x/y"}, {"a/b/d"}, {}},
      {"Deep2", {{"a/b/c", "c.moved"}, {"a/b", "a/b.old"}}, {"a/b.old", "c.moved/x/y"},
       {"a/b/d", "a/b.old/d"}, {"/Deep2/a/b: folder vanished during the run; skipped"}},
  };
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  for (const Moves& m : moves) {
    SCOPED_TRACE(m.root);
    const std::string root = m.root;
    for (const char* folder : {"", "/a", "/a/b", "/a/b/c", "/a/b/c/x", "/a/b/c/x/y", "/a/b/d"}) {
      t.MakeFolder(root + folder);
    }
    rlimit low = saved;
    low.rlim_cur = 30;  // the walk then holds two folders
    setrlimit(RLIMIT_NOFILE, &low);
    options.root = t.Native(root).string();
    reporter.noticed.clear();
    tree::TreeSession deep(options, reporter);
    deep.OnFolderVisited([&](const std::string& folder, const os::FolderHandle&) {
      if (folder != "a\\b\\c\\x\\y") return;
      for (const auto& [from, to] : m.renames) fs::rename(t.Native(root + "/" + from), t.Native(root + "/" + to));
      fs::create_directories(t.Native(root + "/a/b/d"));
    });
    EXPECT_EQ(deep.Run().status, tree::kExitDone);
    setrlimit(RLIMIT_NOFILE, &saved);
    for (const char* folder : m.written) {
      EXPECT_TRUE(fs::exists(t.Native(root + "/" + folder + "/zenter.xml"))) << folder;
    }
    for (const char* folder : m.untouched) {
      EXPECT_FALSE(fs::exists(t.Native(root + "/" + folder + "/zenter.xml"))) << folder;
    }
    ASSERT_EQ(reporter.noticed.size(), m.noticed.size());
    for (size_t i = 0; i < m.noticed.size(); ++i) {
      EXPECT_TRUE(reporter.noticed[i].ends_with(m.noticed[i])) << reporter.noticed[i];
    }
  }
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
  const auto start = std::chrono::steady_clock::now();
  Recorder reporter;
  EXPECT_EQ(tree::TreeSession(options, reporter).Run().status, tree::kExitFailed);
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
