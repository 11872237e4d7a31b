// End-to-end tests of what the whole-tree tool skips: a git repository and
// an old Subversion working copy run at their root, --hidden, the
// .modmanifestignore files of a tree and above it, a bad line, a folder
// Windows calls hidden, and names Windows would change but for the \\?\ form.
// Each program MODMANIFEST_WINDOWS_EXES names runs too, under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "tests/e2e/e2e_support.h"

namespace {

using namespace e2e;

struct TreeRunner {
  Runner folderProgram;
  fs::path tree;
};

std::vector<TreeRunner> TreeRunners() {
  std::vector<TreeRunner> runners;
  for (const Runner& r : Runners()) {
    runners.push_back(
        {r, r.wine ? r.program.parent_path() / "modmanifest-tree.exe" : MODMANIFEST_TREE_PROGRAM});
  }
  return runners;
}

// Every file and folder below root by its relative path: a file's bytes, a
// folder as "/".
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> all;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    all[fs::relative(e.path(), root).string()] = e.is_directory() ? "/" : ReadFile(e.path());
  }
  return all;
}

void Build(const fs::path& root, const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (path.back() == '/') {
      fs::create_directories(root / path);
    } else {
      fs::create_directories((root / path).parent_path());
      WriteFile(root / path, "<" + fs::path(path).stem().string() + "/>");
    }
  }
}

int Git(const fs::path& folder, std::vector<std::string> args) {
  std::vector<std::string> argv = {"git", "-c", "user.name=t", "-c", "user.email=t@t", "-C",
                                   folder.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, folder);
}

class TreeSkip : public ::testing::TestWithParam<TreeRunner> {
 protected:
  bool Wine() const { return GetParam().folderProgram.wine; }
  std::string Arg(const fs::path& path) const {
    if (!Wine()) return path.string();
    std::string p = "Z:" + path.string();
    for (char& c : p) {
      if (c == '/') c = '\\';
    }
    return p;
  }
  Output Run(const std::vector<std::string>& args, const fs::path& cwd = "/") const {
    std::vector<std::string> argv = Launcher(GetParam().folderProgram);
    argv.push_back(GetParam().tree.string());
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCaptured(argv, cwd);
  }
  // The per-folder program run in every folder of root, as a user would.
  void RunInEveryFolder(const fs::path& root) const {
    ASSERT_EQ(RunIn(GetParam().folderProgram, root), 0);
    std::vector<fs::path> folders;
    for (auto& e : fs::recursive_directory_iterator(root)) {
      if (e.is_directory()) folders.push_back(e.path());
    }
    for (const fs::path& folder : folders) ASSERT_EQ(RunIn(GetParam().folderProgram, folder), 0) << folder;
  }
};

TEST_P(TreeSkip, AGitRepositoryAndAWorkingCopyKeepTheirOwnFoldersAndHiddenVisitsThem) {
  TempTree t;
  const fs::path repo = t.root() / "MyMod";
  Build(repo, {"Data/a.xml", "Data/Units/u.xml", "Art/b.xml", ".vscode/settings.xml",
               ".svn/entries.xml", "Data/.svn/entries.xml", "Data/Units/.svn/entries.xml",
               "Art/.svn/entries.xml"});
  ASSERT_EQ(Git(repo, {"init", "-q", "."}), 0);
  ASSERT_EQ(Git(repo, {"add", "-A"}), 0);
  ASSERT_EQ(Git(repo, {"commit", "-q", "-m", "one"}), 0);
  const auto before = Snapshot(repo);

  Output run = Run({Arg(repo)});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("4 folders visited, 4 manifests written"), std::string::npos) << run.out;
  // Nothing but the four manifests is new, and no hidden folder changed.
  auto after = Snapshot(repo);
  for (const char* manifest : {"zenter.xml", "Data/Mod.xml", "Data/Units/zenter.xml", "Art/zenter.xml"}) {
    EXPECT_EQ(after.erase(manifest), 1u) << manifest;
  }
  EXPECT_EQ(after, before);
  EXPECT_EQ(ReadFile(repo / "zenter.xml").find(".git"), std::string::npos);
  EXPECT_EQ(Git(repo, {"fsck", "--no-progress"}), 0);

  // Committed, the manifests pass the check on a fresh clone.
  ASSERT_EQ(Git(repo, {"add", "-A"}), 0);
  ASSERT_EQ(Git(repo, {"commit", "-q", "-m", "manifests"}), 0);
  const fs::path clone = t.root() / "clone";
  ASSERT_EQ(RunProcess({"git", "clone", "-q", repo.string(), clone.string()}, t.root()), 0);
  Output check = Run({"--check", "."}, clone);
  EXPECT_EQ(check.status, 0) << check.out << check.err;

  // --hidden: every folder's manifest is the per-folder program's.
  const fs::path plain = t.root() / "plain" / "MyMod";
  const fs::path hidden = t.root() / "hidden" / "MyMod";
  for (const fs::path& copy : {plain, hidden}) {
    fs::create_directories(copy);
    fs::copy(repo, copy, fs::copy_options::recursive);
    fs::remove_all(copy / ".git");
    for (auto& e : fs::recursive_directory_iterator(copy)) {
      if (e.path().filename() == "zenter.xml" || e.path().filename() == "Mod.xml") fs::remove(e.path());
    }
  }
  ASSERT_EQ(Run({"--hidden", Arg(hidden)}).status, 0);
  RunInEveryFolder(plain);
  EXPECT_EQ(Snapshot(hidden), Snapshot(plain));
}

TEST_P(TreeSkip, IgnoreFilesHereBelowAndAboveEachWithTheirScopeAndABadLineFailsItsFolder) {
  TempTree t;
  const fs::path mod = t.root() / "above" / "Mod";
  Build(mod, {"a.xml", "Cache/c.xml", "Temp1/t.xml", "Old/o.xml", "Sub/s.xml", "Sub/Old/o.xml",
              "Sub/Cache/c.xml", "Sub/Temp2/t.xml", "Sub/Keep/k.xml"});
  WriteFile(t.root() / "above" / ".modmanifestignore", "cache\n");
  WriteFile(mod / ".modmanifestignore", "\xEF\xBB\xBF# build output\r\n  Temp*  \r\n\r\n");
  WriteFile(mod / "Sub" / ".modmanifestignore", "OLD\n");
  const std::vector<std::string> written = {"zenter.xml", "Old/zenter.xml", "Sub/zenter.xml",
                                            "Sub/Keep/zenter.xml"};
  const std::vector<std::string> skipped = {"Cache/zenter.xml", "Temp1/zenter.xml",
                                            "Sub/Old/zenter.xml", "Sub/Cache/zenter.xml",
                                            "Sub/Temp2/zenter.xml"};
  // From the top, and from a sub-folder: the same folders are skipped.
  for (const fs::path& root : {mod, mod / "Sub"}) {
    SCOPED_TRACE(root);
    Output o = Run({Arg(root)});
    EXPECT_EQ(o.status, 0) << o.err;
    for (const std::string& m : written) {
      if (!fs::relative(mod / m, root).string().starts_with("..")) {
        EXPECT_TRUE(fs::exists(mod / m)) << m;
      }
      fs::remove(mod / m);
    }
    for (const std::string& m : skipped) EXPECT_FALSE(fs::exists(mod / m)) << m;
  }
  RunIn(GetParam().folderProgram, mod / "Sub");
  const std::string sub = ReadFile(mod / "Sub" / "zenter.xml");
  EXPECT_NE(sub.find("Old\\zenter.xml"), std::string::npos);  // the per-folder program lists all
  ASSERT_EQ(Run({Arg(mod)}).status, 0);
  EXPECT_EQ(ReadFile(mod / "Sub" / "zenter.xml").find("Old\\zenter.xml"), std::string::npos);

  // A path in an ignore file fails its folder, whose sub-tree is left alone.
  Build(mod, {"Bad/b.xml", "Bad/Deep/d.xml"});
  WriteFile(mod / "Bad" / ".modmanifestignore", "ok\nArt/Old\n");
  Output bad = Run({Arg(mod)});
  EXPECT_EQ(bad.status, 1);
  const std::string file = Arg(mod / "Bad" / ".modmanifestignore");
  EXPECT_NE(bad.err.find(file + ", line 2: a pattern names a folder, not a path: \"Art/Old\""),
            std::string::npos)
      << bad.err;
  EXPECT_FALSE(fs::exists(mod / "Bad" / "zenter.xml"));
  EXPECT_FALSE(fs::exists(mod / "Bad" / "Deep" / "zenter.xml"));
}

// Names Windows changes but for the \\?\ form (a trailing dot or space, a
// reserved name), and a folder Windows calls hidden: every program
// writes the Linux tree tool's bytes.
TEST_P(TreeSkip, NamesWindowsWouldChangeAndAHiddenAttributeFolder) {
  TempTree t;
  const std::vector<std::string> shape = {"x./a.xml", "y .xml", "aux.xml", "Units/u.xml",
                                          "Secret/s.xml"};
  const fs::path linux = t.root() / "linux" / "Mod";
  const fs::path tool = t.root() / "tool" / "Mod";
  const fs::path each = t.root() / "each" / "Mod";
  for (const fs::path& root : {linux, tool, each}) Build(root, shape);
  ASSERT_EQ(RunProcess({MODMANIFEST_TREE_PROGRAM, "-q", linux.string()}, "/"), 0);
  ASSERT_EQ(Run({"-q", Arg(tool)}).status, 0);
  // Wine cannot start a program that lies in a folder whose name ends in a
  // dot: the per-folder program runs in the others.
  auto expected = Snapshot(linux);
  for (const char* folder : {"", "Units", "Secret", "x."}) {
    if (Wine() && folder == std::string("x.")) {
      expected.erase("x./zenter.xml");
      continue;
    }
    ASSERT_EQ(RunIn(GetParam().folderProgram, each / folder), 0) << folder;
  }
  EXPECT_EQ(Snapshot(tool), Snapshot(linux));
  EXPECT_EQ(Snapshot(each), expected);
  EXPECT_NE(ReadFile(linux / "zenter.xml").find("x.\\zenter.xml"), std::string::npos);
  if (!Wine()) return;

  const char* prefix = std::getenv("WINEPREFIX");
  const fs::path cmd = fs::path(prefix != nullptr ? prefix : std::string(std::getenv("HOME")) + "/.wine") /
                       "drive_c/windows/system32/cmd.exe";
  ASSERT_EQ(RunProcess({MODMANIFEST_WINE_RUN, cmd.string(), "/c", "attrib", "+h", Arg(tool / "Secret")}, "/"), 0);
  fs::remove(tool / "Secret" / "zenter.xml");
  Output o = Run({"-v", Arg(tool)});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_FALSE(fs::exists(tool / "Secret" / "zenter.xml"));
  EXPECT_EQ(ReadFile(tool / "zenter.xml").find("Secret"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Programs, TreeSkip, ::testing::ValuesIn(TreeRunners()));

}  // namespace
