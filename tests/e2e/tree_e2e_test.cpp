// End-to-end tests of the whole-tree tool: built trees run through every
// case, and the manifests compared with the per-folder program's, run in
// every folder of a copy of the same tree. The Linux programs always run;
// each Windows program MODMANIFEST_WINDOWS_EXES names runs under Wine, with
// modmanifest-tree.exe taken from beside it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

#include "tests/e2e/e2e_support.h"

namespace {

using namespace e2e;

class TreeTool : public ::testing::TestWithParam<TreeRunner> {
 protected:
  bool Wine() const { return GetParam().folderProgram.wine; }
  char Separator() const { return Wine() ? '\\' : '/'; }
  std::string Arg(const fs::path& path) const { return ProgramPath(GetParam().folderProgram, path); }
  // A path below root as the tool shows it.
  std::string Shown(const fs::path& root, const std::string& relative) const {
    std::string shown = Arg(root) + Separator() + relative;
    for (char& c : shown) {
      if (c == '/') c = Separator();
    }
    return shown;
  }
  std::vector<std::string> Argv(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = Launcher(GetParam().folderProgram);
    argv.push_back(GetParam().tree.string());
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  Output Run(const std::vector<std::string>& args, const fs::path& cwd = "/") const {
    return RunCaptured(Argv(args), cwd);
  }
};

// A tree as a list of paths below its root: a path ending in '/' is a
// folder, any other a file. exclude matches the folders in excluded.
struct TreeShape {
  const char* label;
  const char* root;
  std::vector<const char*> paths;
  const char* exclude;
  std::vector<const char*> excluded;
  const char* missingIn;  // a folder whose manifest the stale case removes
};

const std::vector<TreeShape> kTrees = {
    {"nested", "Mod",
     {"Data/GameData.xml", "Data/Strings.xml", "Data/readme.txt", "Data/Units/Tank.xml",
      "Data/Units/Vehicles/Jeep.xml", "Data/Art/Textures/t.xml"},
     "ART", {"Data/Art"}, "Data/Units/Vehicles"},
    {"data root", "Data", {"a.xml", "Maps/m.xml", "Empty/"}, "e*", {"Empty"}, "Maps"},
    {"data deeper down", "Root",
     {"Sub/Data/a.xml", "Other/MyData/b.xml", "data/c.xml", "Database/d.xml",
      "Sub/Data/Inner/Data/e.xml"},
     "?atabase", {"Database"}, "Sub/Data/Inner/Data"},
    {"empty folders and folders of folders", "Bare", {"A/B/C/", "D/", "A/E/"}, "c",
     {"A/B/C"}, "A/B"},
    {"plain zenter.xml in a Data folder", "Mod",
     {"Data/zenter.xml", "Data/GameData.xml", "Data/Maps/Mod.xml", "Data/Maps/m.xml"}, "maps",
     {"Data/Maps"}, "Data/Maps"},
    {"hidden folders, & and spaces", "Names",
     {".svn/entries.xml", ".hidden.xml", "A & B/x y.xml", "Sound Effects/Big Bang.xml",
      "it's/q.xml"},
     ".SVN", {".svn"}, "A & B"},
    {"ASCII punctuation beside letters, in the order NTFS gives", "Order",
     {"a_.xml", "aB.xml", "a[.xml", "a^.xml", "a`.xml", "ab.xml", "a_b/", "aC/"}, "ac", {"aC"},
     "a_b"},
};

void Build(const fs::path& root, const TreeShape& shape) {
  fs::create_directories(root);
  for (std::string path : shape.paths) {
    if (path.back() == '/') {
      fs::create_directories(root / path);
    } else {
      WriteFile(root / path, "<" + fs::path(path).stem().string() + "/>");
    }
  }
}

bool IsManifest(const fs::path& p) {
  return p.filename() == "zenter.xml" || p.filename() == "Mod.xml";
}

// Every regular file below root by its relative path, with its bytes.
std::map<std::string, std::string> Files(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_symlink() && e.is_regular_file()) {
      files[fs::relative(e.path(), root).string()] = ReadFile(e.path());
    }
  }
  return files;
}

// Each manifest's inode and modification time, in nanoseconds.
std::map<std::string, std::pair<ino_t, long long>> Stamps(const fs::path& root) {
  std::map<std::string, std::pair<ino_t, long long>> stamps;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    struct stat st;
    if (IsManifest(e.path()) && lstat(e.path().c_str(), &st) == 0) {
      stamps[e.path().string()] = {st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
    }
  }
  return stamps;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::vector<fs::path> TemporaryFiles(const fs::path& root) {
  std::vector<fs::path> found;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    if (e.path().filename().string().starts_with("~mm")) found.push_back(e.path());
  }
  return found;
}

TEST_P(TreeTool, EveryTreeThroughEveryCase) {
  for (const TreeShape& shape : kTrees) {
    SCOPED_TRACE(shape.label);
    TempTree t;
    const fs::path tree = t.root() / "tree" / shape.root;
    const fs::path copy = t.root() / "copy" / shape.root;
    Build(tree, shape);
    Build(copy, shape);

    // The tool's manifests are the per-folder program's, in every folder.
    Output first = Run({"--hidden", Arg(tree)});
    ASSERT_EQ(first.status, 0) << first.err;
    RunIn(GetParam().folderProgram, copy);
    for (auto& e : fs::recursive_directory_iterator(copy)) {
      if (e.is_directory()) {
        ASSERT_EQ(RunIn(GetParam().folderProgram, e.path()), 0) << e.path();
      }
    }
    const std::map<std::string, std::string> written = Files(tree);
    EXPECT_EQ(written, Files(copy));
    size_t manifests = 1;  // one a folder, ROOT's included
    for (auto& e : fs::recursive_directory_iterator(tree)) manifests += e.is_directory();
    for (auto& [path, bytes] : written) {
      if (IsManifest(path)) {
        EXPECT_TRUE(WellFormed(tree / path)) << path;
      }
    }
    const std::string folders = std::to_string(manifests) + " folders visited, ";
    EXPECT_EQ(Count(first.out, folders + std::to_string(manifests) + " manifests written, 0 already current, 0 failed"), 1u)
        << first.out;

    // A rerun touches nothing.
    const auto stamps = Stamps(tree);
    Output again = Run({"--hidden", Arg(tree)});
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(Count(again.out, "0 manifests written, " + std::to_string(manifests) + " already current"), 1u)
        << again.out;
    EXPECT_EQ(Stamps(tree), stamps);

    // --check: current, then stale and missing; it writes nothing.
    Output current = Run({"--hidden", "--check", Arg(tree)});
    EXPECT_EQ(current.status, 0) << current.out << current.err;
    EXPECT_EQ(Count(current.out, "0 manifests missing or stale"), 1u) << current.out;
    WriteFile(tree / "zz_new.xml", "<new/>");
    const std::string missingName = fs::path(shape.missingIn).filename() == "Data" ? "Mod.xml" : "zenter.xml";
    ASSERT_TRUE(fs::remove(tree / shape.missingIn / missingName));
    const auto before = Files(tree);
    Output stale = Run({"--hidden", "--check", Arg(tree)});
    EXPECT_EQ(stale.status, 1) << stale.out << stale.err;
    const std::string rootName = std::string(shape.root) == "Data" ? "Mod.xml" : "zenter.xml";
    EXPECT_EQ(Count(stale.out, Shown(tree, rootName) + " (stale)\n+ <Include type=\"all\" source=\"zz_new.xml\" />\n"), 1u)
        << stale.out;
    EXPECT_EQ(Count(stale.out, Shown(tree, std::string(shape.missingIn) + "/" + missingName) + " (missing)\n"), 1u)
        << stale.out;
    EXPECT_EQ(Count(stale.out, "2 manifests missing or stale"), 1u) << stale.out;
    EXPECT_EQ(Files(tree), before);

    // --exclude: as if the excluded folders were not there.
    const fs::path excluding = t.root() / "excluding" / shape.root;
    const fs::path pruned = t.root() / "pruned" / shape.root;
    Build(excluding, shape);
    Build(pruned, shape);
    for (const char* folder : shape.excluded) fs::remove_all(pruned / folder);
    ASSERT_EQ(Run({"--hidden", "--exclude", shape.exclude, Arg(excluding)}).status, 0);
    ASSERT_EQ(Run({"--hidden", Arg(pruned)}).status, 0);
    std::map<std::string, std::string> kept = Files(excluding);
    for (const char* folder : shape.excluded) {
      std::erase_if(kept, [&](const auto& file) { return file.first.starts_with(std::string(folder) + "/"); });
    }
    EXPECT_EQ(kept, Files(pruned));
    for (const char* folder : shape.excluded) {
      EXPECT_FALSE(fs::exists(excluding / folder / "zenter.xml")) << folder;
    }
  }
}

TEST_P(TreeTool, OptionsAndUsageErrors) {
  TempTree t;
  const fs::path root = t.root() / "Mod";
  WriteFile(root / "a.xml", "<a/>");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // printed on standard output (a part of it)
    std::string err;  // printed on standard error (a part of it)
  };
  fs::create_directories(t.root() / "bs" / "a" / "b");
  fs::create_directories(t.root() / "x\\y");
  std::vector<Case> cases = {
      {{"--no-such-option", Arg(root)}, 2, "", "--no-such-option"},
      {{Arg(t.root() / "missing")}, 2, "", "no such folder"},
      {{Arg(root / "a.xml")}, 2, "", "not a folder"},
      {{"--exclude", "a/b", Arg(root)}, 2, "", "not a path"},
      {{Arg(root), Arg(root)}, 2, "", "not expected"},
      {{"--quiet", "--verbose", Arg(root)}, 2, "", "excludes"},
      {{"--version"}, 0, "1.0.0\n", ""},
      {{"--help"}, 0, "Usage: modmanifest-tree [OPTIONS] [ROOT]", ""},
  };
  if (Wine()) {
    // A drive's root, however it is spelled.
    for (const char* drive : {"Z:\\", "z:", "\\\\?\\Z:\\", "Z:\\tmp\\.."}) {
      cases.push_back({{drive}, 2, "", "the root of a drive or share is no mod folder"});
    }
  } else {
    // The file system's root, and folders a '\\'-separated path cannot name.
    cases.push_back({{"/"}, 2, "", "the file system's root"});
    cases.push_back({{(t.root() / "bs" / "a\\b").string()}, 2, "", "no such folder"});
    cases.push_back({{(t.root() / "x\\y").string()}, 2, "", "holds \\"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    Output o = Run(c.args);
    EXPECT_EQ(o.status, c.status);
    EXPECT_NE(o.out.find(c.out), std::string::npos) << o.out;
    EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    if (c.status != 0) {
      EXPECT_TRUE(o.out.empty()) << o.out;
    }
    EXPECT_FALSE(fs::exists(root / "zenter.xml"));
  }

  // --verbose names each manifest written; --quiet prints nothing, even
  // when --check finds a stale one; ROOT defaults to the current folder.
  fs::create_directories(root / "Sub");
  Output verbose = Run({"--verbose"}, root);
  EXPECT_EQ(verbose.status, 0);
  EXPECT_EQ(verbose.out, "wrote zenter.xml\nwrote Sub" + std::string(1, Separator()) +
                             "zenter.xml\n2 folders visited, 2 manifests written, 0 already "
                             "current, 0 failed" +
                             verbose.out.substr(verbose.out.rfind(" (")));
  WriteFile(root / "b.xml", "<b/>");
  Output quiet = Run({"--quiet", "--check", Arg(root)});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out + quiet.err, "");
  if (Wine()) {  // ROOT typed with '/': every path shown with '\\'
    std::string slashed = Arg(root);
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    Output check = Run({"--check", slashed});
    EXPECT_EQ(check.out.find(Arg(root) + "\\zenter.xml (stale)\n"), 0u) << check.out;
  }

  // ROOT is the folder named, in every spelling: "A." beside "A" (which
  // Windows' own resolution would take it for), and the \\?\ forms.
  WriteFile(t.root() / "A" / "a.xml", "<a/>");
  WriteFile(t.root() / "A." / "dot.xml", "<dot/>");
  const std::string prefix = Wine() ? "\\\\?\\" : "";
  for (const std::string& dotted : {std::string("A."), Arg(t.root() / "A."), prefix + Arg(t.root() / "A.")}) {
    SCOPED_TRACE(dotted);
    Output o = Run({"-v", dotted}, t.root());
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.find("wrote " + dotted + Separator() + "zenter.xml\n"), 0u) << o.out;
    EXPECT_EQ(ReadFile(t.root() / "A." / "zenter.xml"), Document({"dot.xml"}));
    EXPECT_FALSE(fs::exists(t.root() / "A" / "zenter.xml"));
    fs::remove(t.root() / "A." / "zenter.xml");
  }
}

TEST_P(TreeTool, AnUnreadableFolderFailsAloneAsAnUnprivilegedUser) {
  if (geteuid() != 0 && access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP();
  TempTree t;
  const fs::path root = t.root() / "Mod";
  WriteFile(root / "Open" / "a.xml", "<a/>");
  WriteFile(root / "Shut" / "b.xml", "<b/>");
  // A manifest that is there but cannot be read is no missing one.
  WriteFile(root / "Locked" / "zenter.xml", "old");
  fs::create_directories(root / "Dir" / "zenter.xml");  // a manifest that is a folder
  for (const fs::path& p : {root, root / "Open", root / "Locked", root / "Dir", root / "Dir" / "zenter.xml"}) {
    fs::permissions(p, fs::perms::all);
  }
  fs::permissions(root / "Shut", fs::perms::owner_all);
  fs::permissions(root / "Locked" / "zenter.xml", fs::perms::owner_write);
  std::vector<std::string> argv = UnprivilegedUser(Wine());
  for (const std::string& a : Argv({Arg(root)})) argv.push_back(a);
  Output o = RunCaptured(argv, "/");
  EXPECT_EQ(o.status, 1) << o.err;
  EXPECT_NE(o.err.find("cannot list folder " + Shown(root, "Shut") + ": access denied"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("cannot read " + Shown(root, "Locked/zenter.xml") + ": access denied"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("cannot read " + Shown(root, "Dir/zenter.xml") + ": is a folder"), std::string::npos) << o.err;
  // The folder called zenter.xml gets a manifest of its own, as with the
  // per-folder program.
  EXPECT_NE(o.out.find("6 folders visited, 3 manifests written, 0 already current, 3 failed"), std::string::npos) << o.out;
  EXPECT_EQ(ReadFile(root / "Locked" / "zenter.xml"), "old");
  EXPECT_EQ(ReadFile(root / "zenter.xml"), Document({"Dir\\zenter.xml", "Locked\\zenter.xml",
                                                     "Open\\zenter.xml", "Shut\\zenter.xml"}));
  EXPECT_EQ(ReadFile(root / "Open" / "zenter.xml"), Document({"a.xml"}));
}

TEST_P(TreeTool, ALinkLoopEndsAndNothingOutsideTheTreeIsWritten) {
  if (Wine()) GTEST_SKIP() << "Wine shows symbolic links as plain folders";
  TempTree t;
  const fs::path root = t.root() / "Mod";
  WriteFile(root / "A" / "a.xml", "<a/>");
  WriteFile(t.root() / "outside" / "o.xml", "<o/>");
  fs::create_directory_symlink("..", root / "A" / "loop");
  fs::create_directory_symlink(t.root() / "outside", root / "A" / "out");
  Output o = Run({Arg(root)});
  EXPECT_EQ(o.status, 0) << o.err;
  // Listed as the per-folder program lists them, never entered.
  EXPECT_EQ(ReadFile(root / "A" / "zenter.xml"),
            Document({"a.xml", "loop\\zenter.xml", "out\\zenter.xml"}));
  EXPECT_FALSE(fs::exists(t.root() / "outside" / "zenter.xml"));
  EXPECT_NE(o.out.find("2 folders visited"), std::string::npos) << o.out;
}

// Folders made relative to their parent, as deep as the names go.
int MakeChain(int parent, const std::string& name, int levels, const std::string& file) {
  int fd = dup(parent);
  for (int i = 0; i < levels; ++i) {
    mkdirat(fd, name.c_str(), 0755);
    const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    const int f = openat(fd, file.c_str(), O_WRONLY | O_CREAT, 0644);
    close(f);
  }
  return fd;
}

// Linux: a path far longer than PATH_MAX, a tree deeper than the open-file
// limit leaves handles for, a manifest that is a link, a huge sparse stale
// manifest under a small memory limit, and names a manifest warns about, in
// one run.
TEST_P(TreeTool, DeepLongAndOddTreesWithinTheProcessLimits) {
  if (Wine()) GTEST_SKIP() << "Linux paths and limits";
  TempTree t;
  const fs::path root = t.root() / "Mod";
  WriteFile(root / "Art" / "AnimData" / "a.xml", "<a/>");
  WriteFile(root / std::string("bad\x01.xml"), "<b/>");
  WriteFile(t.root() / "outside" / "precious.xml", "PRECIOUS");
  fs::create_directories(root / "Linked");
  fs::create_symlink(t.root() / "outside" / "precious.xml", root / "Linked" / "zenter.xml");
  fs::create_directories(root / "Huge");
  {
    std::ofstream(root / "Huge" / "zenter.xml");
    std::error_code error;
    fs::resize_file(root / "Huge" / "zenter.xml", 1ull << 40, error);
    if (error) fs::resize_file(root / "Huge" / "zenter.xml", 1ull << 34);
  }
  const int rootFd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  close(MakeChain(rootFd, std::string(200, 'L'), 40, "l.xml"));  // 8,040 bytes below ROOT
  close(MakeChain(rootFd, "D", 30, "d.xml"));
  close(rootFd);

  // A memory limit only where the program runs bare (no sanitizer, no
  // valgrind, which need more than it leaves).
#if defined(__SANITIZE_ADDRESS__)
  const bool bare = false;
#else
  const bool bare = std::getenv("MODMANIFEST_LINUX_WRAPPER") == nullptr;
#endif
  std::vector<std::string> argv = {
      "/bin/sh", "-c",
      std::string("ulimit -n 12 && ") + (bare ? "ulimit -v 400000 && " : "") + "exec \"$0\" \"$@\""};
  for (const std::string& a : Argv({Arg(root)})) argv.push_back(a);
  Output o = RunCaptured(argv, "/");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("75 folders visited, 75 manifests written, 0 already current, 0 failed, 2 warnings"),
            std::string::npos) << o.out << o.err;
  EXPECT_NE(o.err.find("warning: " + Shown(root, "Art/AnimData/Mod.xml") + " is what " +
                       Shown(root, "Art/AnimData") + " gets (its name ends in \"Data\"), but " +
                       Shown(root, "Art/zenter.xml") + " includes AnimData\\zenter.xml"),
            std::string::npos) << o.err;
  // (The control character shown escaped.)
  EXPECT_NE(o.err.find("warning: " + Shown(root, "bad\\x01.xml") + " is left out of " +
                       Shown(root, "zenter.xml") + ": its name holds control characters"),
            std::string::npos) << o.err;
  EXPECT_EQ(ReadFile(t.root() / "outside" / "precious.xml"), "PRECIOUS");
  EXPECT_FALSE(fs::is_symlink(root / "Linked" / "zenter.xml"));
  EXPECT_EQ(ReadFile(root / "Linked" / "zenter.xml"), Document({}));
  ASSERT_LT(fs::file_size(root / "Huge" / "zenter.xml"), 1u << 20);
  EXPECT_EQ(ReadFile(root / "Huge" / "zenter.xml"), Document({}));
  Output again = Run({"--check", Arg(root)});
  EXPECT_EQ(again.status, 0) << again.out;
  // A write past the file-size limit: its true reason, and the old manifest.
  WriteFile(root / "Art" / "new.xml", "<n/>");
  // (Its messages go through a pipe, which the limit does not cover.)
  std::vector<std::string> limitedArgv = {
      "/bin/bash", "-c", "set -o pipefail; (ulimit -f 0 && exec \"$0\" \"$@\") 2>&1 | cat"};
  for (const std::string& a : Argv({Arg(root)})) limitedArgv.push_back(a);
  Output limited = RunCaptured(limitedArgv, "/");
  EXPECT_EQ(limited.status, 1);
  EXPECT_NE(limited.out.find("cannot write " + Shown(root, "Art/zenter.xml") + ": file too large"),
            std::string::npos) << limited.out;
  EXPECT_EQ(ReadFile(root / "Art" / "zenter.xml"), Document({"AnimData\\zenter.xml"}));
  // The deep folders go the way they came: std::filesystem cannot name them.
  RunProcess({"rm", "-rf", root.string()}, "/");
}

// A tree big enough for runs that take a while.
fs::path BigTree(const fs::path& root, int folders) {
  for (int i = 0; i < folders; ++i) {
    const fs::path folder = root / ("G" + std::to_string(i / 50)) / ("F" + std::to_string(i));
    fs::create_directories(folder);
    for (int k = 0; k < 3; ++k) WriteFile(folder / ("u" + std::to_string(k) + ".xml"), "<u/>");
  }
  return root;
}

TEST_P(TreeTool, AnInterruptedRunLeavesNoTemporaryFileAndOnlyCompleteManifests) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    TempTree t;
    const fs::path root = BigTree(t.root() / "Big", 2500);
    Child child = Start(Argv({Arg(root)}), "/", t.root());
    // Interrupted once the first batch is in place.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(root / "zenter.xml") && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child.pid, signal);
    // Wine turns SIGINT into Ctrl-C, after which a Windows program exits with
    // STATUS_CONTROL_C_EXIT; it ends a process at SIGTERM as TerminateProcess
    // would, before any handler runs. The temporary file in hand then goes
    // with the process by its deletion mark, unless the kill falls between
    // its creation and its mark or between unmarking and rename: at most
    // that one file is left, and no manifest names it. Wine's server
    // removes the marked files of a batch once the process is gone, a moment
    // after its end is seen here.
    const bool killed = Wine() && signal == SIGTERM;
    EXPECT_EQ(Wait(child), Wine() ? (killed ? -1000 - SIGTERM : 0x3A) : -1000 - signal)
        << "the run ended before the interrupt";
    std::vector<fs::path> left = TemporaryFiles(root);
    const auto removed = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (killed && left.size() > 1 && std::chrono::steady_clock::now() < removed) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      left = TemporaryFiles(root);
    }
    if (killed) {
      EXPECT_LE(left.size(), 1u);
    } else {
      EXPECT_EQ(left, std::vector<fs::path>{});
    }
    Output check = Run({"--check", Arg(root)});
    EXPECT_EQ(Count(check.out, "(stale)"), 0u) << check.out.substr(0, 2000);
    EXPECT_GT(Count(check.out, "(missing)"), 0u);
  }

  // A closed pipe ends the run the same way (Linux: by SIGPIPE; Windows: a
  // failed write, status 1); what a killed run left is removed by the next
  // run, but never the files of a process that still runs.
  TempTree t;
  const fs::path root = BigTree(t.root() / "Big", 1000);
  // Standard output is a pipe whose reading end is closed from the start.
  std::vector<std::string> piped = {
      "perl", "-e",
      "pipe(my $r, my $w) or die; close $r; open(STDOUT, '>&', $w) or die; exec {$ARGV[0]} @ARGV"};
  for (const std::string& a : Argv({"-v", Arg(root)})) piped.push_back(a);
  Output closed = RunCaptured(piped, "/");
  EXPECT_EQ(closed.status, Wine() ? 1 : -1000 - SIGPIPE) << closed.err;
  EXPECT_EQ(TemporaryFiles(root), std::vector<fs::path>{});
  // (A Windows program under Wine cannot see this Linux process.)
  char alive[32];
  std::snprintf(alive, sizeof alive, "~mm%x-0.tmp", static_cast<unsigned>(getpid()));
  for (const char* name : {"~mmt7ffffff0-3.tmp", "~mm7ffffff1-0.tmp", static_cast<const char*>(alive)}) {
    if (!Wine() || name != alive) WriteFile(root / "G0" / name, "partial");
  }
  Output rerun = Run({Arg(root)});
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_EQ(Count(rerun.out, ", 2 leftover temporary files removed"), 1u) << rerun.out;
  EXPECT_EQ(TemporaryFiles(root), Wine() ? std::vector<fs::path>{} : std::vector<fs::path>{root / "G0" / alive});

  // Memory that runs out ends the run with a message and status 1, every
  // manifest old or new and no temporary file left, whatever the limit.
  if (Wine() || std::getenv("MODMANIFEST_LINUX_WRAPPER") != nullptr) return;
#if !defined(__SANITIZE_ADDRESS__)
  const fs::path wide = t.root() / "Wide";
  fs::create_directories(wide);
  for (int i = 0; i < 100000; ++i) close(open((wide / ("f" + std::to_string(i) + ".xml")).c_str(), O_CREAT | O_WRONLY, 0644));
  WriteFile(wide / "zenter.xml", "old");
  int ranOut = 0;
  for (int limit = 2000; limit <= 40000 && ranOut == 0; limit += 2000) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "ulimit -v " + std::to_string(limit) + " && exec \"$0\" \"$@\""};
    for (const std::string& a : Argv({Arg(wide)})) argv.push_back(a);
    Output o = RunCaptured(argv, "/");
    SCOPED_TRACE(limit);
    EXPECT_NE(o.status, 255) << o.err;
    if (o.status == 1) {
      ++ranOut;
      EXPECT_NE(o.err.find("modmanifest-tree: out of memory"), std::string::npos) << o.err;
    }
    const std::string manifest = ReadFile(wide / "zenter.xml");
    EXPECT_TRUE(manifest == "old" || manifest.size() > 100000u);
  }
  EXPECT_EQ(TemporaryFiles(wide), std::vector<fs::path>{});
  EXPECT_EQ(ranOut, 1);
#endif
}

// Linux: a signal ends a run whose standard output is blocked (a reader
// that has stopped reading), promptly and with the same clean-up, whether
// the run checks or writes.
TEST_P(TreeTool, ASignalEndsARunWhoseOutputIsBlocked) {
  if (Wine()) GTEST_SKIP() << "POSIX signals";
  TempTree t;
  const fs::path root = BigTree(t.root() / "Big", 2500), fifo = t.root() / "out";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct { int signal; const char* option; } cases[] = {
      {SIGINT, "--check"}, {SIGQUIT, "--check"}, {SIGTERM, "-v"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal);
    // The reader opens the pipe and never reads.
    Child reader = Start({"/bin/sh", "-c", "exec 3<\"$0\"; exec sleep 120", fifo.string()}, "/",
                         t.root());
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" >\"$0\"", fifo.string()};
    for (const std::string& a : Argv({c.option, Arg(root)})) argv.push_back(a);
    Child run = Start(argv, "/", t.root());
    // Far more than the pipe holds is printed by then (a slower machine
    // only interrupts it earlier).
    std::this_thread::sleep_for(std::chrono::seconds(3));
    kill(run.pid, c.signal);
    int status = 0;
    pid_t ended = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((ended = waitpid(run.pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(reader.pid, SIGKILL);  // the run, if it still waits, then ends
    EXPECT_EQ(ended, run.pid) << "still running 10 s after the signal";
    if (ended != run.pid) Wait(run);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << "status " << status;
    Wait(reader);
    EXPECT_EQ(TemporaryFiles(root), std::vector<fs::path>{});
  }
}

TEST_P(TreeTool, TwoRunsAtOnceBothSucceed) {
  TempTree t;
  const fs::path root = BigTree(t.root() / "Big", Wine() ? 300 : 1500);
  Child a = Start(Argv({Arg(root)}), "/", t.root());
  Child b = Start(Argv({Arg(root)}), "/", t.root());
  EXPECT_EQ(Wait(a), 0) << ReadFile(a.err);
  EXPECT_EQ(Wait(b), 0) << ReadFile(b.err);
  EXPECT_EQ(TemporaryFiles(root), std::vector<fs::path>{});
  Output check = Run({"--check", Arg(root)});
  EXPECT_EQ(check.status, 0) << check.out.substr(0, 2000);
}

INSTANTIATE_TEST_SUITE_P(Programs, TreeTool, ::testing::ValuesIn(TreeRunners()),
                         [](const ::testing::TestParamInfo<TreeRunner>& info) {
                           return "program" + std::to_string(info.index);
                         });

}  // namespace
