// The tree tool's pieces in-process over the fake platform: one folder's
// listing (exclusions, failures, a folder that is gone), the batched replace
// and what --check shows; and, on the real file system, what the Windows
// writer's deletion mark does.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/tree_os.h"
#include "tests/fake/fake_platform.h"
#include "tree/folder_listing.h"
#include "tree/manifest_diff.h"
#include "tree/manifest_writer.h"
#include "tree/skip_rules.h"

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
  const os::Dword kLink = kDir | os::tree::kAttrLink;
  const std::vector<os::tree::ListedEntry> listed = {
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
    tree::SkipRules rules(c.excludes, c.hidden);
    std::string problem;
    ASSERT_TRUE(rules.Enter(std::nullopt, "", &problem));
    tree::FolderListing listing;
    tree::ReadListing(listed, "Mod.xml", rules, &listing);
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
  std::vector<std::vector<std::string>> syncs;
  bool syncOk = true;
  tree::ManifestWriter Writer(size_t batch, bool keepOpen = false) {
    return tree::ManifestWriter(
        [this](const std::string& label, const tree::WriteFailure* failure) {
          (failure == nullptr ? done : failed).push_back(label);
        },
        batch,
        [this](const std::vector<std::string>& paths,
               const std::vector<const os::tree::FolderHandle*>&) {
          syncs.push_back(paths);
          return syncOk ? 0u : os::kErrorAccessDenied;
        },
        keepOpen);
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
      ASSERT_TRUE(writer.Stage(nullptr, folder, "zenter.xml", std::string("new ") + folder, folder,
                               &failure));
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
  EXPECT_EQ(w.syncs, (std::vector<std::vector<std::string>>{
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
    w.syncOk = c.syncOk;
    {
      tree::ManifestWriter writer = w.Writer(10);
      tree::WriteFailure failure;
      EXPECT_EQ(writer.Stage(nullptr, "C:\\A", "zenter.xml", "new", "A", &failure), c.staged);
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
TEST(ManifestWriter, AFileKeptOpenGoesWithItsHandleUnlessItReplacedItsTarget) {
  if (!os::tree::TemporaryStaysOpen()) GTEST_SKIP() << "temporary files are closed once written";
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
  Writes w;
  {
    tree::ManifestWriter writer = w.Writer(2, true);
    tree::WriteFailure failure;
    ASSERT_TRUE(writer.Stage(nullptr, folder, "zenter.xml", "lost", "A", &failure));
    EXPECT_EQ(names().size(), 2u);
    writer.Abandon();  // closes the handle, and nothing else
    EXPECT_EQ(names(), std::vector<std::string>{"zenter.xml"});
    ASSERT_TRUE(writer.Stage(nullptr, folder, "zenter.xml", "new", "A", &failure));
    writer.Commit();
  }
  EXPECT_EQ(w.done, std::vector<std::string>{"A"});
  EXPECT_EQ(names(), std::vector<std::string>{"zenter.xml"});
  std::ifstream in(target, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");
  in.close();
  fs::remove_all(dir);
}

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
}

}  // namespace
