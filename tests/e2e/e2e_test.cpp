// End-to-end tests: copy the built program into temporary mod trees, run it
// as a user would, and compare the manifest it writes byte for byte.
//
// The Linux program always runs. Windows builds run under Wine when
// MODMANIFEST_WINDOWS_EXES names them (paths separated by ':'), as
// scripts/test does; every case then also checks that they write the same
// bytes as the Linux program.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace fs = std::filesystem;

namespace {

using namespace e2e;

class EndToEnd : public ::testing::TestWithParam<Runner> {};

// Runs the program in folder and checks the manifest it writes.
void ExpectManifest(const Runner& runner, const fs::path& folder, const std::string& name,
                    const std::vector<std::string>& entries) {
  ASSERT_EQ(RunIn(runner, folder), 0);
  fs::path manifest = folder / name;
  ASSERT_TRUE(fs::exists(manifest)) << manifest;
  EXPECT_EQ(ReadFile(manifest), Document(entries));
  EXPECT_TRUE(WellFormed(manifest));
}

TEST_P(EndToEnd, DataFolderGetsModXmlWithFilesThenSubFolders) {
  TempTree t;
  fs::path data = t.root() / "Mod" / "Data";
  WriteFile(data / "b.xml", "<b/>");
  WriteFile(data / "a.xml", "<a/>");
  WriteFile(data / "notes.txt", "not xml");
  fs::create_directories(data / "T");
  fs::create_directories(data / "S" / "Deeper");
  WriteFile(data / "S" / "inner.xml", "<i/>");
  ExpectManifest(GetParam(), data, "Mod.xml", {"a.xml", "b.xml", "S\\zenter.xml", "T\\zenter.xml"});
  EXPECT_FALSE(fs::exists(data / "zenter.xml"));
  // The run never descends: S gets nothing.
  EXPECT_FALSE(fs::exists(data / "S" / "zenter.xml"));
}

TEST_P(EndToEnd, OnlyTheExactLastFourBytesDataChooseModXml) {
  TempTree t;
  for (const char* name : {"data", "DATA", "Database"}) {
    fs::path folder = t.root() / name;
    WriteFile(folder / "x.xml", "<x/>");
    ExpectManifest(GetParam(), folder, "zenter.xml", {"x.xml"});
    EXPECT_FALSE(fs::exists(folder / "Mod.xml"));
  }
  fs::path myData = t.root() / "MyData";
  WriteFile(myData / "x.xml", "<x/>");
  ExpectManifest(GetParam(), myData, "Mod.xml", {"x.xml"});
}

TEST_P(EndToEnd, SubFoldersWithoutXmlFilesAreStillIncluded) {
  TempTree t;
  fs::path folder = t.root() / "Art";
  fs::create_directories(folder / "Textures");
  fs::create_directories(folder / "Models");
  WriteFile(folder / "readme.txt", "text");
  ExpectManifest(GetParam(), folder, "zenter.xml", {"Models\\zenter.xml", "Textures\\zenter.xml"});
}

TEST_P(EndToEnd, XmlFilesWithoutSubFoldersAndAnEmptyFolder) {
  TempTree t;
  fs::path folder = t.root() / "Units";
  WriteFile(folder / "Tank.xml", "<t/>");
  WriteFile(folder / "infantry.XML", "<i/>");
  ExpectManifest(GetParam(), folder, "zenter.xml", {"infantry.XML", "Tank.xml"});

  fs::path empty = t.root() / "Empty";
  fs::create_directories(empty);
  ExpectManifest(GetParam(), empty, "zenter.xml", {});
}

TEST_P(EndToEnd, ASecondRunWritesTheSameBytesAndKeepsOtherManifests) {
  TempTree t;
  fs::path folder = t.root() / "Maps";
  WriteFile(folder / "Skirmish.xml", "<s/>");
  // A Mod.xml in a folder that writes zenter.xml is an ordinary XML file.
  WriteFile(folder / "Mod.xml", "<m/>");
  fs::create_directories(folder / "Sub");
  std::vector<std::string> entries{"Mod.xml", "Skirmish.xml", "Sub\\zenter.xml"};
  ExpectManifest(GetParam(), folder, "zenter.xml", entries);
  std::string first = ReadFile(folder / "zenter.xml");
  ExpectManifest(GetParam(), folder, "zenter.xml", entries);
  EXPECT_EQ(ReadFile(folder / "zenter.xml"), first);
}

TEST_P(EndToEnd, HiddenFilesAndFoldersAreListedLikeOthers) {
  TempTree t;
  fs::path folder = t.root() / "Hidden";
  WriteFile(folder / ".secret.xml", "<h/>");
  WriteFile(folder / "plain.xml", "<p/>");
  fs::create_directories(folder / ".cache");
  ExpectManifest(GetParam(), folder, "zenter.xml",
                 {".secret.xml", "plain.xml", ".cache\\zenter.xml"});
}

std::vector<std::string> NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// What runs a built program as an unprivileged user.
std::vector<std::string> UnprivilegedPrefix(const Runner& runner) {
  std::vector<std::string> prefix = UnprivilegedUser(runner.wine);
  if (runner.wine) prefix.push_back(MODMANIFEST_WINE_RUN);
  return prefix;
}

TEST_P(EndToEnd, AReadOnlyTargetIsLeftUnchangedAndTheRunExitsOne) {
  TempTree t;
  fs::path folder = t.root() / "Locked";
  WriteFile(folder / "a.xml", "<a/>");
  WriteFile(folder / "zenter.xml", "previous manifest");
  fs::permissions(folder / "zenter.xml", fs::perms::owner_read | fs::perms::group_read |
                                             fs::perms::others_read);
  EXPECT_EQ(RunIn(GetParam(), folder), 1);
  EXPECT_EQ(ReadFile(folder / "zenter.xml"), "previous manifest");
  // Nothing else is left behind.
  EXPECT_EQ(NamesIn(folder), (std::vector<std::string>{"a.xml", "zenter.xml"}));
}

TEST_P(EndToEnd, AFolderWithoutWritePermissionExitsOneAndLeavesNothing) {
  if (geteuid() != 0 && access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP();
  TempTree t;
  fs::path folder = t.root() / "ReadOnlyFolder";
  WriteFile(folder / "a.xml", "<a/>");
  fs::path program = folder / GetParam().program.filename();
  fs::copy_file(GetParam().program, program);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read |
                              fs::perms::others_exec);
  EXPECT_EQ(RunProcess({program.string()}, folder, UnprivilegedPrefix(GetParam())), 1);
  EXPECT_EQ(NamesIn(folder), (std::vector<std::string>{"a.xml", program.filename().string()}));
}

TEST_P(EndToEnd, ArgumentsAndTheWorkingDirectoryAreIgnored) {
  TempTree t;
  fs::path folder = t.root() / "Data";
  WriteFile(folder / "a.xml", "<a/>");
  fs::path elsewhere = t.root() / "elsewhere";
  fs::create_directories(elsewhere);
  ASSERT_EQ(RunIn(GetParam(), folder, {"--help", "x.xml", "..\\other"}, elsewhere), 0);
  EXPECT_EQ(ReadFile(folder / "Mod.xml"), Document({"a.xml"}));
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_P(EndToEnd, LargeFolderListsEveryEntryInOrder) {
  TempTree t;
  fs::path folder = t.root() / "Big";
  fs::create_directories(folder);
  std::vector<std::string> files, folders;
  for (int i = 0; i < 10000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "unit%05d.xml", i);
    std::ofstream(folder / name) << "<u/>";
    files.push_back(name);
  }
  for (int i = 0; i < 1000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "dir%04d", i);
    fs::create_directory(folder / name);
    folders.push_back(std::string(name) + "\\zenter.xml");
  }
  std::vector<std::string> entries = files;
  entries.insert(entries.end(), folders.begin(), folders.end());
  ExpectManifest(GetParam(), folder, "zenter.xml", entries);
}

INSTANTIATE_TEST_SUITE_P(Programs, EndToEnd, ::testing::ValuesIn(Runners()),
                         [](const ::testing::TestParamInfo<Runner>& info) {
                           return "program" + std::to_string(info.index);
                         });

// Every build writes the same bytes for a tree of ASCII names.
TEST(EndToEndBuilds, LinuxAndWindowsWriteTheSameBytes) {
  std::vector<Runner> runners = Runners();
  if (runners.size() < 2) GTEST_SKIP() << "no Windows build given (MODMANIFEST_WINDOWS_EXES)";
  std::string first;
  for (const Runner& runner : runners) {
    TempTree t;
    fs::path data = t.root() / "Mod" / "Data";
    WriteFile(data / "GameData.xml", "<g/>");
    WriteFile(data / "strings.xml", "<s/>");
    fs::create_directories(data / "Units");
    fs::create_directories(data / "art");
    ASSERT_EQ(RunIn(runner, data), 0) << runner.label;
    std::string bytes = ReadFile(data / "Mod.xml");
    if (first.empty()) {
      first = bytes;
    } else {
      EXPECT_EQ(bytes, first) << runner.label;
    }
  }
}

}  // namespace

// Names in every script and folder paths of any length. Every build writes
// the same bytes for each tree, each Windows build under a Western locale
// (code page 1252) and under a Chinese one (code page 936) alike.
#include <locale.h>

namespace {

// A program with the environment it runs in.
struct LocaleRun {
  std::string label;
  Runner runner;
  std::vector<std::string> prefix;
};

std::vector<LocaleRun> RunsUnderEachLocale() {
  std::vector<LocaleRun> runs;
  for (const Runner& runner : Runners()) {
    if (!runner.wine) {
      runs.push_back({runner.label, runner, {}});
      continue;
    }
    for (std::string locale : {"C.UTF-8", "zh_CN.UTF-8"}) {
      runs.push_back({runner.label + " " + locale, runner,
                      {"env", "LANG=" + locale, "LC_ALL=" + locale}});
    }
  }
  return runs;
}

struct NamedTree {
  const char* label;
  std::string folder;      // under the temporary root, '/' between its parts
  size_t windowsLength;    // when not 0: the folder padded to this many units as Wine names it
  std::vector<std::string> files;
  std::vector<std::string> folders;
  std::string manifest;
  std::vector<std::string> entries;  // in the order every build lists them
};

// The length of a UTF-8 path in UTF-16 units.
size_t Utf16Units(const std::string& utf8) {
  size_t units = 0;
  for (unsigned char c : utf8) units += ((c & 0xC0) != 0x80) + (c >= 0xF0);
  return units;
}

std::string Repeated(const std::string& part, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += (i > 0 ? "/" : "") + part;
  return s;
}

TEST(EndToEndNames, EveryBuildWritesTheSameBytesForNamesInAnyScriptAndPathsOfAnyLength) {
  const std::vector<NamedTree> trees = {
      {"scripts", "Мод Ωμέγα/单位/🚀/Éric/Data", 0,
       {"plain.xml", "Ärger.xml", "Éric.xml", "Ωμέγα.xml", "Москва.xml", "单位.xml",
        "🚀rocket.xml", "说明.txt"},
       {"Ωδή", "地图", "🚀"},
       "Mod.xml",
       {"plain.xml", "Ärger.xml", "Éric.xml", "Ωμέγα.xml", "Москва.xml", "单位.xml",
        "🚀rocket.xml", "Ωδή\\zenter.xml", "地图\\zenter.xml", "🚀\\zenter.xml"}},
      // 乗 is 0x81 0x5C in code page 936: a second byte that reads as '\'.
      {"second byte 0x5C", "乗/乗", 0, {"乗.xml", "表.xml"}, {"乗"}, "zenter.xml",
       {"乗.xml", "表.xml", "乗\\zenter.xml"}},
      // 9 parts of 33 units: 305 units before the temporary root.
      {"longer than 300", Repeated("Длинный путь-长路径-Ωμέγα-0123456789", 9), 0,
       {"a.xml", "Ärger.xml"}, {"sub"}, "zenter.xml",
       {"a.xml", "Ärger.xml", "sub\\zenter.xml"}},
      // The temporary file's name is longer than zenter.xml's, which just fits
      // the classic limit here.
      {"248 units", "Ω", 248, {"a.xml"}, {}, "zenter.xml", {"a.xml"}},
  };
  const std::vector<LocaleRun> runs = RunsUnderEachLocale();
  if (runs.size() > 1) {
    locale_t chinese = newlocale(LC_ALL_MASK, "zh_CN.UTF-8", nullptr);
    ASSERT_NE(chinese, nullptr) << "the zh_CN.UTF-8 locale is missing: run scripts/install-deps";
    freelocale(chinese);
  }
  for (const NamedTree& tree : trees) {
    for (const LocaleRun& run : runs) {
      SCOPED_TRACE(std::string(tree.label) + ", " + run.label);
      TempTree t;
      std::string path = (t.root() / tree.folder).string();
      while (tree.windowsLength > 0 && 2 + Utf16Units(path) < tree.windowsLength) {
        path += "/" + std::string(std::min<size_t>(40, tree.windowsLength - 3 - Utf16Units(path)),
                                  'p');
      }
      const fs::path folder = path;
      if (tree.windowsLength > 0) {
        ASSERT_EQ(2 + Utf16Units(path), tree.windowsLength);
      }
      fs::create_directories(folder);
      for (const std::string& name : tree.files) WriteFile(folder / name, "<x/>");
      for (const std::string& name : tree.folders) fs::create_directory(folder / name);

      EXPECT_EQ(RunIn(run.runner, folder, {}, {}, run.prefix), 0);
      EXPECT_EQ(ReadFile(folder / tree.manifest), Document(tree.entries));
      EXPECT_TRUE(WellFormed(folder / tree.manifest));
      // Nothing else was written, and no temporary file is left behind.
      EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()),
                static_cast<std::ptrdiff_t>(tree.files.size() + tree.folders.size() + 1));
    }
  }
}

}  // namespace

// --- The program's own folder, unlistable folders, pipes, exhausted memory --

#include <fcntl.h>

namespace {

// The Linux program runs bare: no valgrind (it needs more memory than a
// limit leaves), no sanitizer build.
bool LinuxProgramRunsBare() {
#if defined(__SANITIZE_ADDRESS__)
  return false;
#else
  return std::getenv("MODMANIFEST_LINUX_WRAPPER") == nullptr;
#endif
}

TEST_P(EndToEnd, AFolderThatCannotBeListedKeepsItsManifestAndExitsOne) {
  if (geteuid() != 0 && access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP();
  TempTree t;
  fs::path folder = t.root() / "Unreadable";
  WriteFile(folder / "a.xml", "<a/>");
  fs::create_directories(folder / "Sub");
  WriteFile(folder / "zenter.xml", "previous manifest");
  fs::path program = folder / GetParam().program.filename();
  fs::copy_file(GetParam().program, program);
  // Write and enter, but no read: the folder cannot be listed.
  fs::permissions(folder, fs::perms::owner_write | fs::perms::owner_exec |
                              fs::perms::group_write | fs::perms::group_exec |
                              fs::perms::others_write | fs::perms::others_exec);
  EXPECT_EQ(RunProcess({program.string()}, folder, UnprivilegedPrefix(GetParam())), 1);
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(ReadFile(folder / "zenter.xml"), "previous manifest");
  EXPECT_EQ(NamesIn(folder),
            (std::vector<std::string>{"Sub", "a.xml", program.filename().string(), "zenter.xml"}));
}

// Started through a link, the program works where the link is, not beside
// the binary it leads to.
TEST(EndToEndLinux, StartedThroughALinkItWorksInTheLinksFolder) {
  TempTree t;
  fs::path bin = t.root() / "bin";
  fs::path data = t.root() / "Mod" / "Data";
  WriteFile(data / "a.xml", "<a/>");
  fs::create_directories(bin);
  fs::copy_file(MODMANIFEST_PROGRAM, bin / "modmanifest");
  fs::create_symlink(bin / "modmanifest", data / "modmanifest");
  ASSERT_EQ(RunProcess({(data / "modmanifest").string()}, t.root()), 0);
  EXPECT_EQ(ReadFile(data / "Mod.xml"), Document({"a.xml"}));
  EXPECT_EQ(NamesIn(bin), (std::vector<std::string>{"modmanifest"}));
}

// Where the program's own folder cannot be named, nothing is written anywhere.
TEST(EndToEndLinux, AFolderTooDeepToNameWritesNothingAnywhere) {
  TempTree t;
  // 4,400 bytes of path below the temporary folder, made one step at a time.
  const std::string step(200, 'd');
  std::string steps;  // one cd a step: no single path may be that long
  int dir = open(t.root().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dir, 0);
  for (int i = 0; i < 22; ++i) {
    ASSERT_EQ(mkdirat(dir, step.c_str(), 0755), 0);
    int next = openat(dir, step.c_str(), O_RDONLY | O_DIRECTORY);
    close(dir);
    dir = next;
    ASSERT_GE(dir, 0);
    steps += "cd -P " + step + " && ";
  }
  std::ifstream in(MODMANIFEST_PROGRAM, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int out = openat(dir, "modmanifest", O_WRONLY | O_CREAT | O_EXCL, 0755);
  ASSERT_GE(out, 0);
  ASSERT_EQ(write(out, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(out);
  close(dir);
  const bool rootManifestBefore = fs::exists("/zenter.xml");
  // Started from inside, by a path that names its folder.
  int status = RunProcess({"sh", "-c", steps + "exec ./modmanifest"}, t.root());
  EXPECT_EQ(status, 1);
  EXPECT_EQ(fs::exists("/zenter.xml"), rootManifestBefore);
  EXPECT_EQ(fs::exists(t.root() / "zenter.xml"), false);
}

TEST(EndToEndLinux, ANamedPipeAsTargetIsRefusedAtOnce) {
  TempTree t;
  fs::path folder = t.root() / "Piped";
  WriteFile(folder / "a.xml", "<a/>");
  ASSERT_EQ(mkfifo((folder / "zenter.xml").c_str(), 0644), 0);
  // A hang ends after a while instead of stalling the suite.
  EXPECT_EQ(RunIn({"linux", MODMANIFEST_PROGRAM, false}, folder, {}, {}, {"timeout", "20"}), 1);
  EXPECT_TRUE(fs::is_fifo(folder / "zenter.xml"));
  EXPECT_EQ(NamesIn(folder), (std::vector<std::string>{"a.xml", "zenter.xml"}));
}

TEST(EndToEndLinux, ExhaustedMemoryShowsTheAllocationBoxReadablyAndKeepsTheManifest) {
  if (!LinuxProgramRunsBare()) GTEST_SKIP() << "needs the bare program under a memory limit";
  TempTree t;
  fs::path folder = t.root() / "Crowded";
  fs::create_directories(folder);
  for (int i = 0; i < 2000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%04d.xml", i);
    std::ofstream(folder / name);
  }
  WriteFile(folder / "zenter.xml", "previous manifest");
  fs::copy_file(MODMANIFEST_PROGRAM, folder / "modmanifest");
  // Limits around what the program needs (a static program needs less than
  // one that loads shared libraries): each run either writes its manifest or
  // ends through the box; none aborts.
  int boxes = 0;
  bool started = false;
  for (int limit = 1000; limit <= 7400; limit += 200) {
    std::string command = "ulimit -v ";
    command += std::to_string(limit);
    command += " && exec ./modmanifest 2>stderr.txt";
    fs::remove(folder / "zenter.xml");
    WriteFile(folder / "zenter.xml", "previous manifest");
    int status = RunProcess({"sh", "-c", command}, folder);
    std::string err = ReadFile(folder / "stderr.txt");
    fs::remove(folder / "stderr.txt");
    // Too little even to start: the loader of a dynamic program exits 127,
    // the start-up of a static one dies of a signal. Never once it started
    // under a lower limit.
    if (!started && (status == 127 || status < 0)) continue;
    started = true;
    if (status == 0) continue;
    ++boxes;
    EXPECT_EQ(status, 255) << "limit " << limit << ": " << err;
    EXPECT_EQ(err.rfind("错误\n运行时出错!\n\n错误信息：分配 ", 0), 0u) << err;
    EXPECT_NE(err.find(" 字节内存失败!"), std::string::npos) << err;
    EXPECT_EQ(err.find("\xEF\xBF\xBD"), std::string::npos) << "U+FFFD in " << err;
    EXPECT_EQ(ReadFile(folder / "zenter.xml"), "previous manifest") << "limit " << limit;
  }
  EXPECT_GT(boxes, 0) << "no limit made the run fail";
}

}  // namespace
