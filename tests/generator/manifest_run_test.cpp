// The manifest run in-process over the fake platform: what it lists, what it
// leaves out, where it writes, and how a failed write shows in the exit
// status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rules/manifest_document.h"
#include "generator/program.h"
#include "runtime/host/runtime_application.h"
#include "tests/fake/fake_platform.h"

namespace {

using fake::Entry;

constexpr os::Dword kFile = os::kAttrArchive;
constexpr os::Dword kDir = os::kAttrDirectory;

struct FolderRun {
  fake::FakePlatform fake;

  explicit FolderRun(const std::string& folder) {
    fake.modulePath = folder + "\\tool.exe";
    fake.folders.insert(folder);
    this->folder = folder;
  }
  void List(const std::vector<Entry>& xml, const std::vector<Entry>& all) {
    fake.listings[folder + "\\*.xml"] = xml;
    fake.listings[folder + "\\*.*"] = all;
  }
  // Runs the program's entry in a fresh runtime application; returns the
  // exit status the framework would end with.
  int Start() {
    rt::RuntimeApplication app(gen::ThisProgram());
    EXPECT_EQ(app.InitInstance(), 0);
    return app.ExitInstance();
  }
  std::string Written(const std::string& name) {
    auto it = fake.files.find(folder + "\\" + name);
    return it == fake.files.end() ? std::string("<missing>") : it->second.bytes;
  }
  std::string folder;
};

TEST(ManifestRun, ListsXmlFilesThenSubFoldersAndSkipsOnlyDotEntries) {
  FolderRun run("C:\\Mods\\MyMod\\Units");
  // A listing that does not start with . and .. (as at a drive root): every
  // real sub-folder stays, and . and .. are dropped wherever they stand.
  run.List({{"a.xml", kFile}, {"b.xml", kFile | os::kAttrHidden}},
           {{"S", kDir}, {".", kDir}, {"a.xml", kFile}, {"T", kDir | os::kAttrHidden},
            {"..", kDir}, {"b.xml", kFile}, {"U", kDir}});
  EXPECT_EQ(run.Start(), 0);
  EXPECT_EQ(run.Written("zenter.xml"),
            rules::RenderManifestText({"a.xml", "b.xml", "S\\zenter.xml", "T\\zenter.xml",
                                     "U\\zenter.xml"}));
  EXPECT_TRUE(run.fake.boxes.empty());
  EXPECT_EQ(run.fake.openFinds, 0);
}

TEST(ManifestRun, FolderWithoutXmlFilesStillIncludesItsSubFolders) {
  FolderRun run("C:\\Mods\\MyMod\\Data");
  run.List({}, {{".", kDir}, {"..", kDir}, {"Units", kDir}, {"Maps", kDir}});
  EXPECT_EQ(run.Start(), 0);
  EXPECT_EQ(run.Written("Mod.xml"),
            rules::RenderManifestText({"Units\\zenter.xml", "Maps\\zenter.xml"}));
  EXPECT_EQ(run.Written("zenter.xml"), "<missing>");
}

TEST(ManifestRun, DataTestLooksAtTheLastFourBytesOnly) {
  for (const char* folder : {"C:\\x\\MyData", "C:\\Data"}) {
    FolderRun run(folder);
    run.List({}, {{".", kDir}, {"..", kDir}});
    EXPECT_EQ(run.Start(), 0);
    EXPECT_EQ(run.Written("Mod.xml"), rules::RenderManifestText(std::vector<std::string>{})) << folder;
  }
  for (const char* folder : {"C:\\x\\data", "C:\\x\\DATA", "C:\\x\\Database"}) {
    FolderRun run(folder);
    run.List({}, {{".", kDir}, {"..", kDir}});
    EXPECT_EQ(run.Start(), 0);
    EXPECT_EQ(run.Written("zenter.xml"), rules::RenderManifestText(std::vector<std::string>{})) << folder;
  }
}

TEST(ManifestRun, LeavesOutExactlyTheFileItWrites) {
  FolderRun run("C:\\Mods\\Sub");
  run.List({{"a.xml", kFile}, {"Mod.xml", kFile}, {"zenter.xml", kFile}},
           {{".", kDir}, {"..", kDir}});
  run.fake.files["C:\\Mods\\Sub\\zenter.xml"].bytes = "old";
  EXPECT_EQ(run.Start(), 0);
  const std::string first = run.Written("zenter.xml");
  EXPECT_EQ(first, rules::RenderManifestText({"a.xml", "Mod.xml"}));
  // A second run over the same listing writes the same bytes.
  EXPECT_EQ(run.Start(), 0);
  EXPECT_EQ(run.Written("zenter.xml"), first);
}

TEST(ManifestRun, OutputNameComparesAsTheFileSystemDoes) {
  FolderRun run("C:\\Mods\\Sub");
  run.List({{"ZENTER.XML", kFile}}, {{".", kDir}, {"..", kDir}});
  EXPECT_EQ(run.Start(), 0);
#ifdef _WIN32
  EXPECT_EQ(run.Written("zenter.xml"), rules::RenderManifestText(std::vector<std::string>{}));
#else
  EXPECT_EQ(run.Written("zenter.xml"), rules::RenderManifestText({"ZENTER.XML"}));
#endif
}

TEST(ManifestRun, NamesHoldingABackslashAreLeftOut) {
  FolderRun run("C:\\Mods\\Sub");
  run.List({{"a\\b.xml", kFile}, {"c.xml", kFile}},
           {{".", kDir}, {"..", kDir}, {"x\\y", kDir}, {"z", kDir}});
  EXPECT_EQ(run.Start(), 0);
  EXPECT_EQ(run.Written("zenter.xml"), rules::RenderManifestText({"c.xml", "z\\zenter.xml"}));
}

TEST(ManifestRun, FailedWriteExitsWithOneKeepsTheOldManifestAndShowsNoBox) {
  FolderRun run("C:\\Mods\\Sub");
  run.List({{"a.xml", kFile}}, {{".", kDir}, {"..", kDir}});
  run.fake.files["C:\\Mods\\Sub\\zenter.xml"].bytes = "previous";
  run.fake.failMove = true;
  EXPECT_EQ(run.Start(), 1);
  EXPECT_EQ(run.Written("zenter.xml"), "previous");
  EXPECT_TRUE(run.fake.boxes.empty());
  EXPECT_EQ(run.fake.files.size(), 1u) << "a temporary file was left behind";
}

TEST(ManifestRun, ReleasesEveryBlockItTakes) {
  FolderRun run("C:\\Mods\\Sub");
  run.List({{"a.xml", kFile}, {"b.xml", kFile}}, {{".", kDir}, {"..", kDir}, {"S", kDir}});
  {
    rt::RuntimeApplication app(gen::ThisProgram());
    const size_t before = run.fake.LiveBlocks();
    app.InitInstance();
    EXPECT_EQ(run.fake.LiveBlocks(), before);
    app.ExitInstance();
  }
}

}  // namespace

namespace {

// A listing that fails is not an empty one: whichever pass fails, with
// whatever error, the previous manifest stays and the run exits 1. A pattern
// that matches nothing is no failure.
TEST(ManifestRun, AFolderThatCannotBeListedKeepsItsManifest) {
  struct Case {
    const char* what;
    const char* pattern;  // after the folder
    os::Dword error;
    bool written;
  };
  const Case cases[] = {
      {"XML pass denied", "\\*.xml", os::kErrorAccessDenied, false},
      {"sub-folder pass denied", "\\*.*", os::kErrorAccessDenied, false},
      {"folder gone", "\\*.xml", os::kErrorPathNotFound, false},
      {"no XML file", "\\*.xml", os::kErrorFileNotFound, true},
  };
  for (const Case& c : cases) {
    FolderRun run("C:\\Mods\\Locked");
    run.List({{"a.xml", kFile}}, {{".", kDir}, {"..", kDir}, {"a.xml", kFile}, {"S", kDir}});
    run.fake.files[run.folder + "\\zenter.xml"].bytes = "previous";
    run.fake.listingErrors[run.folder + c.pattern] = c.error;
    EXPECT_EQ(run.Start(), c.written ? 0 : 1) << c.what;
    EXPECT_EQ(run.Written("zenter.xml") != "previous", c.written) << c.what;
    EXPECT_EQ(run.fake.files.size(), 1u) << c.what;
    EXPECT_TRUE(run.fake.boxes.empty()) << c.what;
    EXPECT_EQ(run.fake.openFinds, 0) << c.what;
  }
}

// Without its own folder the run has nowhere to write: never the folder an
// empty path names.
TEST(ManifestRun, AnUnknownProgramFolderWritesNothing) {
  for (const char* modulePath : {"", "tool.exe"}) {
    FolderRun run("C:\\Mods\\Any");
    run.fake.modulePath = modulePath;
    run.List({{"a.xml", kFile}}, {{".", kDir}, {"..", kDir}, {"a.xml", kFile}});
    EXPECT_EQ(run.Start(), 1) << modulePath;
    EXPECT_TRUE(run.fake.files.empty()) << modulePath;
    EXPECT_EQ(run.fake.openFinds, 0) << modulePath;
  }
}

}  // namespace
