// End-to-end: what the whole-tree tool skips, in a git repository run at its
// root; each program MODMANIFEST_WINDOWS_EXES names runs too, under Wine.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>

#include "tests/e2e/e2e_support.h"

namespace {

using namespace e2e;

// Every file (its bytes) and folder ("/") below root by its relative path.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> all;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    all[fs::relative(e.path(), root).string()] = e.is_directory() ? "/" : ReadFile(e.path());
  }
  return all;
}

void Build(const fs::path& root, const std::vector<std::string>& files) {
  for (const std::string& path : files) {
    fs::create_directories((root / path).parent_path());
    WriteFile(root / path, "<" + fs::path(path).stem().string() + "/>");
  }
}

int Git(const std::string& folder, std::vector<std::string> args) {
  args.insert(args.begin(), {"git", "-c", "user.name=t", "-c", "user.email=t@t", "-C", folder});
  return RunProcess(args, folder);
}

class TreeSkip : public ::testing::TestWithParam<Runner> {
 protected:
  bool Wine() const { return GetParam().wine; }
  std::string Arg(const fs::path& path) const { return ProgramPath(GetParam(), path); }
  Output Run(const std::vector<std::string>& args, const fs::path& cwd = "/") const {
    std::vector<std::string> argv = Launcher(GetParam());
    argv.push_back(Wine() ? (GetParam().program.parent_path() / "modmanifest-tree.exe").string()
                          : MODMANIFEST_TREE_PROGRAM);
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCaptured(argv, cwd);
  }
};

// A mod kept in git, with an old working copy's .svn in every folder, ignore
// files at its root, in a sub-folder and above it, and names Windows would
// change but for the \\?\ form.
TEST_P(TreeSkip, ARepositoryRunAtItsRootKeepsItsOwnFoldersAndEveryNameExact) {
  TempTree t;
  const fs::path work = t.root() / "work", repo = work / "MyMod", linux = work / "Linux";
  const std::vector<std::string> files = {
      "Data/a.xml", "Data/Units/u.xml", "Data/Old/o.xml", "Data/Cache/c.xml", "Data/Temp2/t.xml",
      "Temp1/t.xml", "Old/o.xml", "x./b.xml", "y .xml", "aux.xml", ".vscode/s.xml",
      "Secret/s.xml", ".svn/e.xml", "Data/.svn/e.xml", "Data/Units/.svn/e.xml", "x./.svn/e.xml"};
  WriteFile(work / ".modmanifestignore", "cache\n");
  for (const fs::path& root : {repo, linux}) {
    Build(root, files);
    WriteFile(root / ".modmanifestignore", "\xEF\xBB\xBF# build output\r\n  Temp*  \r\n");
    WriteFile(root / "Data" / ".modmanifestignore", "OLD\n");
  }
  ASSERT_EQ(Git(repo, {"init", "-q", "."}), 0);
  ASSERT_EQ(Git(repo, {"add", "-A"}), 0);
  ASSERT_EQ(Git(repo, {"commit", "-q", "-m", "one"}), 0);
  // The Linux tree tool's bytes, where the hidden attribute (Wine) skips Secret.
  std::vector<std::string> reference = {MODMANIFEST_TREE_PROGRAM, "-q", linux.string()};
  if (Wine()) reference.insert(reference.end(), {"--exclude", "Secret"});
  ASSERT_EQ(RunProcess(reference, "/"), 0);
  auto hide = [this](const fs::path& folder) {  // git does not keep the attribute
    if (!Wine()) return;
    const char* prefix = std::getenv("WINEPREFIX");  // else cmake/wine-run's default
    const fs::path cmd = (prefix ? fs::path(prefix) : fs::path(std::getenv("HOME")) / ".wine") /
                         "drive_c/windows/system32/cmd.exe";
    EXPECT_EQ(RunProcess({MODMANIFEST_WINE_RUN, cmd, "/c", "attrib", "+h", Arg(folder)}, "/"), 0);
  };
  hide(repo / "Secret");
  const auto before = Snapshot(repo);

  // A run on a sub-folder skips what a run from the top skips there.
  ASSERT_EQ(Run({Arg(repo / "Data")}).status, 0);
  EXPECT_EQ(Snapshot(repo).size(), before.size() + 2);
  Output run = Run({Arg(repo)});
  ASSERT_EQ(run.status, 0) << run.err;
  auto after = Snapshot(repo);
  for (std::string m : {"zenter.xml", "Data/Mod.xml", "Data/Units/zenter.xml", "Old/zenter.xml",
                        "x./zenter.xml", "Secret/zenter.xml"}) {
    EXPECT_EQ(after.erase(m), !(Wine() && m.starts_with("Secret"))) << m;
    EXPECT_EQ(ReadFile(repo / m), ReadFile(linux / m)) << m;  // every name exact
  }
  EXPECT_EQ(after, before);  // nothing else written; .git and every .svn untouched
  EXPECT_EQ(Git(repo, {"fsck", "--no-progress"}), 0);

  // Committed, the manifests pass the check on a fresh clone.
  ASSERT_EQ(Git(repo, {"add", "-A"}), 0);
  ASSERT_EQ(Git(repo, {"commit", "-q", "-m", "manifests"}), 0);
  ASSERT_EQ(RunProcess({"git", "clone", "-q", repo.string(), (work / "clone").string()}, "/"), 0);
  hide(work / "clone" / "Secret");
  Output check = Run({"--check", "."}, work / "clone");
  EXPECT_EQ(check.status, 0) << check.out << check.err;

  // --hidden writes the per-folder program's bytes in every folder (Wine
  // cannot start a program that lies in a folder whose name ends in a dot).
  const fs::path hidden = t.root() / "hidden" / "MyMod";
  Build(hidden, files);
  ASSERT_EQ(RunIn(GetParam(), hidden), 0);
  for (auto& e : fs::recursive_directory_iterator(hidden)) {
    if (e.is_directory() && !(Wine() && e.path().string().find("/x.") != std::string::npos)) {
      ASSERT_EQ(RunIn(GetParam(), e.path()), 0) << e.path();
    }
  }
  const auto byProgram = Snapshot(hidden);
  ASSERT_EQ(Run({"--hidden", "-q", Arg(hidden)}).status, 0);
  auto byTool = Snapshot(hidden);
  for (const char* m : {"x./zenter.xml", "x./.svn/zenter.xml"}) {
    if (Wine()) byTool.erase(m);
  }
  EXPECT_EQ(byTool, byProgram);

  // A path in an ignore file fails its folder, whose sub-tree is left alone.
  WriteFile(hidden / "Data" / ".modmanifestignore", "ok\nArt/Old\n");
  fs::remove(hidden / "Data/Units/zenter.xml");
  Output bad = Run({Arg(hidden)});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find(Arg(hidden / "Data/.modmanifestignore") +
                         ", line 2: a pattern names a folder, not a path: \"Art/Old\""),
            std::string::npos) << bad.err;
  EXPECT_FALSE(fs::exists(hidden / "Data/Units/zenter.xml"));
}

// The ignore file by its name as each system opens a file (Windows: in any
// case), alike in the tree and above ROOT, so that a run on a sub-folder
// writes what a full run writes; a folder of that name is none; line ends
// of CR alone; a named pipe where a manifest or an ignore file is read.
TEST_P(TreeSkip, IgnoreFilesByTheirNameWhereverTheyLie) {
  TempTree t;
  const fs::path mod = t.root() / "Mod", sub = mod / "Sub";
  Build(mod, {"Sub/Skip/s.xml", "Sub/Keep/k.xml", "Sub/Old/o.xml", "Sub/Temp/t.xml"});
  WriteFile(mod / ".ModManifestIgnore", "skip\n");
  WriteFile(sub / ".modmanifestignore", "# saved with CR alone\rold\r\r  TEMP\r");
  fs::create_directories(t.root() / ".modmanifestignore");
  Output full = Run({Arg(mod)});
  ASSERT_EQ(full.status, 0) << full.err;
  const std::string written = ReadFile(sub / "zenter.xml");
  EXPECT_EQ(written, Wine() ? Document({"Keep\\zenter.xml"})
                            : Document({"Keep\\zenter.xml", "Skip\\zenter.xml"}));
  fs::remove(sub / "zenter.xml");
  Output part = Run({Arg(sub)});
  ASSERT_EQ(part.status, 0) << part.err;
  EXPECT_EQ(ReadFile(sub / "zenter.xml"), written);

  fs::remove(sub / "Keep" / "zenter.xml");
  fs::create_directories(sub / "Pipe");
  ASSERT_EQ(mkfifo((sub / "Keep" / "zenter.xml").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((sub / "Pipe" / ".modmanifestignore").c_str(), 0644), 0);
  Output pipes = Run({Arg(mod)});
  EXPECT_EQ(pipes.status, 1);
  for (const char* file : {"Keep/zenter.xml", "Pipe/.modmanifestignore"}) {
    EXPECT_NE(pipes.err.find("cannot read " + Arg(sub / file) + ": is not a regular file"),
              std::string::npos) << pipes.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, TreeSkip, ::testing::ValuesIn(Runners()));

}  // namespace
