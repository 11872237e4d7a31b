// End-to-end test of modmanifest-tree --watch: the watch started on a tree,
// the tree changed as a modder changes it, and after each change every
// manifest compared with the per-folder program's, run in every folder of a
// copy of the tree as it now is. The Linux program always runs; each Windows
// program MODMANIFEST_WINDOWS_EXES names runs under Wine.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/e2e/e2e_support.h"

namespace {

using namespace e2e;

bool IsManifest(const fs::path& p) { return p.filename() == "zenter.xml" || p.filename() == "Mod.xml"; }
bool IsTemporary(const fs::path& p) { return p.filename().string().starts_with("~mm"); }

using Stamps = std::map<std::string, long long>;

// Each manifest below root by its relative path: its bytes, and when asked
// its modification time.
std::map<std::string, std::string> Manifests(const fs::path& root, Stamps* stamps = nullptr) {
  std::map<std::string, std::string> found;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::end(it);
       it.increment(error)) {
    struct stat st;
    if (!IsManifest(it->path()) || stat(it->path().c_str(), &st) != 0) continue;
    const std::string path = fs::relative(it->path(), root).string();
    found[path] = ReadFile(it->path());
    if (stamps != nullptr) (*stamps)[path] = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  }
  return found;
}

// The manifests the per-folder program writes into a copy of the tree as it
// now is (its folders and files, no manifest), named as ROOT is, whose name
// decides its manifest's.
std::map<std::string, std::string> Reference(const fs::path& root, const fs::path& scratch) {
  fs::remove_all(scratch);
  const fs::path copy = scratch / root.filename();
  std::vector<fs::path> folders{copy};
  for (auto& e : fs::recursive_directory_iterator(root)) {
    const fs::path to = copy / e.path().lexically_relative(root);
    if (e.is_symlink()) {  // a link stays a link, which the program lists but never enters
      fs::create_directories(to.parent_path());
      fs::copy_symlink(e.path(), to);
      continue;
    }
    if (e.is_directory()) folders.push_back(to);
    if (!e.is_directory() && !IsManifest(e.path()) && !IsTemporary(e.path())) WriteFile(to, ReadFile(e.path()));
  }
  // Every folder made before any manifest, an empty one included.
  for (const fs::path& folder : folders) fs::create_directories(folder);
  for (const fs::path& folder : folders) {
    EXPECT_EQ(RunIn({"linux", MODMANIFEST_PROGRAM, false}, folder), 0) << folder;
  }
  return Manifests(copy);
}

// Polls until done() holds or the deadline passes; whether it held.
bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// Mounts folder at mount with bindfs, a FUSE file system, which tells
// nothing of changes made beneath it: whether it could (root, /dev/fuse and
// bindfs needed), saying why not.
bool MountBindfs(const fs::path& folder, const fs::path& mount, const std::vector<std::string>& options) {
  std::vector<std::string> argv{"bindfs"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {folder.string(), mount.string()});
  if (getuid() != 0 || !fs::exists("/dev/fuse") ||
      RunProcess({"/bin/sh", "-c", "command -v bindfs >/dev/null"}, "/") != 0 || RunProcess(argv, "/") != 0) {
    std::printf("FUSE case skipped: needs bindfs, /dev/fuse and root, on Linux\n");
    return false;
  }
  return true;
}

class TreeWatch : public ::testing::TestWithParam<TreeRunner> {
 protected:
  bool Wine() const { return GetParam().folderProgram.wine; }
  std::string Arg(const fs::path& path) const { return ProgramPath(GetParam().folderProgram, path); }
  std::vector<std::string> Argv(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = Launcher(GetParam().folderProgram);
    argv.push_back(GetParam().tree.string());
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
};

TEST_P(TreeWatch, EveryManifestFollowsTheTreeUntilCtrlCOrTheLimitOfWatches) {
  TempTree t;
  const fs::path root = t.root() / "Data";  // Mod.xml at ROOT, zenter.xml beneath
  for (const char* file : {"a.xml", "Art/x.xml", "Art/Sub/y.xml", "Maps/m.xml"}) {
    WriteFile(root / file, "<x/>");
  }
  const auto deadline = std::chrono::seconds(Wine() ? 20 : 10);

  EXPECT_EQ(RunCaptured(Argv({"--watch", "--check", Arg(root)}), "/").status, 2);

  Child watch = Start(Argv({"--watch", Arg(root)}), "/", t.root());
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(watch.out).find("watching ") != std::string::npos; },
                        deadline))
      << ReadFile(watch.err);

  struct Step {
    const char* what;
    std::function<void()> change;
    const char* handEdited = "";  // a manifest the step itself writes
  };
  const std::vector<Step> steps = {
      {"the first run", [] {}},
      {"an XML file created in a sub-folder", [&] { WriteFile(root / "Art/Sub/new.xml", "<n/>"); }},
      {"a folder created holding XML files",
       [&] {
         fs::create_directory(root / "Units");
         WriteFile(root / "Units/u1.xml", "<u/>");
         WriteFile(root / "Units/u2.xml", "<u/>");
       }},
      {"a folder renamed", [&] { fs::rename(root / "Art", root / "Pictures"); }},
      {"a file deleted", [&] { fs::remove(root / "a.xml"); }},
      {"a manifest deleted by hand", [&] { fs::remove(root / "Pictures/Sub/zenter.xml"); },
       "Pictures/Sub/zenter.xml"},
      {"a manifest edited by hand", [&] { WriteFile(root / "Units/zenter.xml", "<edited/>"); },
       "Units/zenter.xml"},
      {"a file rewritten without changing names, another created",
       [&] {
         WriteFile(root / "Maps/m.xml", "<changed/>");
         WriteFile(root / "Units/u3.xml", "<u/>");
       }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    Stamps stampsBefore, stamps;
    const auto before = Manifests(root, &stampsBefore);
    step.change();
    const auto wanted = Reference(root, t.root() / "reference");
    EXPECT_TRUE(WaitUntil([&] { return Manifests(root) == wanted; }, deadline)) << ReadFile(watch.err);
    // A manifest whose bytes stay is not written again.
    for (auto& [path, bytes] : Manifests(root, &stamps)) {
      if (before.count(path) != 0 && before.at(path) == bytes && path != step.handEdited) {
        EXPECT_EQ(stampsBefore[path], stamps[path]) << path;
      }
    }
  }

  kill(watch.pid, SIGINT);
  EXPECT_EQ(Wait(watch), 0) << ReadFile(watch.err);
  for (auto& e : fs::recursive_directory_iterator(root)) EXPECT_FALSE(IsTemporary(e.path())) << e.path();
  const std::string out = ReadFile(watch.out);
  EXPECT_TRUE(std::regex_search(out, std::regex(R"(\n\d\d:\d\d:\d\d wrote .*Units.zenter\.xml\n)"))) << out;
  EXPECT_EQ(ReadFile(watch.err), "");

  // Linux: the system's limit of inotify watches, lowered for one run to
  // fewer than the tree has folders. The run's manifests are right, the
  // error names the setting, the status is 1.
  const fs::path setting = "/proc/sys/fs/inotify/max_user_watches";
  if (Wine() || !std::ofstream(setting, std::ios::app)) return;
  for (int i = 0; i < 30; ++i) WriteFile(root / "Many" / std::to_string(i) / "f.xml", "<f/>");
  long held = 0;  // the watches held already, by every process
  for (auto& process : fs::directory_iterator("/proc")) {
    std::error_code error;
    for (auto it = fs::directory_iterator(process.path() / "fdinfo", error);
         !error && it != fs::end(it); it.increment(error)) {
      std::ifstream info(it->path());
      for (std::string line; std::getline(info, line);) held += line.starts_with("inotify wd:");
    }
  }
  const std::string saved = ReadFile(setting);
  WriteFile(setting, std::to_string(held + 5) + "\n");
  Output limited = RunCaptured(Argv({"--watch", Arg(root)}), "/");
  WriteFile(setting, saved);
  EXPECT_EQ(limited.status, 1) << limited.err;
  EXPECT_NE(limited.err.find("fs.inotify.max_user_watches"), std::string::npos) << limited.err;
  EXPECT_EQ(Manifests(root), Reference(root, t.root() / "reference"));
}


// The exit status of a watch that ends by itself within the deadline, or
// -1 while it still runs.
int EndedWith(const Child& child, std::chrono::seconds deadline) {
  int status = 0;
  const bool ended = WaitUntil([&] { return waitpid(child.pid, &status, WNOHANG) == child.pid; }, deadline);
  if (!ended) {
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
}

TEST_P(TreeWatch, NeverTrustsAStaleViewAndEndsWhenItCannotGoOn) {
  TempTree t;
  const fs::path root = t.root() / "Mods" / "Data";
  for (const char* file : {"a.xml", "Art/x.xml", "Maps/m.xml"}) WriteFile(root / file, "<x/>");
  WriteFile(t.root() / "outside" / "o.xml", "<o/>");
  const auto deadline = std::chrono::seconds(Wine() ? 20 : 10);

  // ROOT missing: the run's own message and status; an ignore file above
  // ROOT that cannot be used: the run says why, the watch does not begin.
  Output missing = RunCaptured(Argv({"--watch", Arg(t.root() / "none")}), "/");
  EXPECT_EQ(missing.status, 2) << missing.err;
  EXPECT_NE(missing.err.find("no such folder"), std::string::npos) << missing.err;
  WriteFile(t.root() / "Mods" / ".modmanifestignore", "Bad/Path\n");
  Output above = RunCaptured(Argv({"--watch", Arg(root)}), "/");
  EXPECT_EQ(above.status, 1) << above.err;
  EXPECT_NE(above.err.find("cannot watch"), std::string::npos) << above.err;
  EXPECT_EQ(above.out.find("watching"), std::string::npos) << above.out;
  fs::remove(t.root() / "Mods" / ".modmanifestignore");

  Child watch = Start(Argv({"--watch", Arg(root)}), "/", t.root());
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(watch.out).find("watching ") != std::string::npos; },
                        deadline))
      << ReadFile(watch.err);
  auto settled = [&](const char* what) {
    SCOPED_TRACE(what);
    const auto wanted = Reference(root, t.root() / "reference");
    EXPECT_TRUE(WaitUntil([&] { return Manifests(root) == wanted; }, deadline)) << ReadFile(watch.err);
  };
  // A link to a folder outside ROOT appears: listed, never entered.
  fs::create_directory_symlink(t.root() / "outside", root / "Link");
  WriteFile(t.root() / "outside" / "p.xml", "<p/>");
  WriteFile(root / "Maps" / "n.xml", "<n/>");
  settled("a link created");
  EXPECT_FALSE(fs::exists(t.root() / "outside" / "zenter.xml"));
  // What it leads to moved away, and back: whether it leads to a folder
  // decides its parent's manifest.
  fs::rename(t.root() / "outside", t.root() / "elsewhere");
  settled("a link's folder moved away");
  fs::rename(t.root() / "elsewhere", t.root() / "outside");
  settled("a link's folder back");
  // A "Data" folder's warning is said once, however often it is updated.
  WriteFile(root / "Art" / "PartsData" / "p.xml", "<p/>");
  settled("a Data folder made");
  WriteFile(root / "Art" / "PartsData" / "q.xml", "<q/>");
  settled("a Data folder updated");
  const std::string err = ReadFile(watch.err);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("PartsData"), std::string::npos) << err;
  // A manifest edited in place, by every means, is restored.
  const fs::path manifest = root / "Art" / "zenter.xml";
  const std::vector<std::pair<const char*, std::function<void()>>> edits = {
      {"appended", [&] { std::ofstream(manifest, std::ios::app) << "<!-- mine -->"; }},
      {"truncated", [&] { ASSERT_EQ(truncate(manifest.c_str(), 10), 0); }},
      {"overwritten in place", [&] {
         std::fstream f(manifest, std::ios::in | std::ios::out);
         f << "XXXX";
       }}};
  for (const auto& [how, edit] : edits) {
    edit();
    settled(how);
  }

  // An ignore file above ROOT edited: the run's rules follow it.
  auto rootManifestHolds = [&](const char* text, bool holds) {
    return WaitUntil([&] { return (ReadFile(root / "Mod.xml").find(text) != std::string::npos) == holds; },
                     deadline);
  };
  WriteFile(t.root() / "Mods" / ".modmanifestignore", "Maps\n");
  EXPECT_TRUE(rootManifestHolds("Maps", false)) << ReadFile(watch.err);
  fs::remove(t.root() / "Mods" / ".modmanifestignore");
  EXPECT_TRUE(rootManifestHolds("Maps", true)) << ReadFile(watch.err);
  // Under Wine: a folder given the hidden attribute (which Wine keeps in an
  // extended attribute) leaves its parent's manifest.
  if (Wine() && setxattr(root.c_str(), "user.DOSATTRIB", "0x0", 3, 0) == 0) {
    ASSERT_EQ(setxattr((root / "Art").c_str(), "user.DOSATTRIB", "0x2", 3, 0), 0);
    EXPECT_TRUE(rootManifestHolds("Art", false)) << ReadFile(watch.err);
  }

  // ROOT renamed, a new folder of its old name: nothing written there.
  fs::rename(t.root() / "Mods", t.root() / "Renamed");
  fs::create_directories(root);
  WriteFile(root / "new.xml", "<n/>");
  EXPECT_EQ(EndedWith(watch, deadline), 1) << ReadFile(watch.err);
  EXPECT_NE(ReadFile(watch.err).find("renamed"), std::string::npos) << ReadFile(watch.err);
  EXPECT_FALSE(fs::exists(root / "Mod.xml"));
}

// The watch ends when ROOT goes, and says what became of it; it holds
// nothing open that would keep ROOT's file system from being unmounted.
TEST_P(TreeWatch, SaysWhatBecameOfRoot) {
  TempTree t;
  struct Case {
    const char* what;
    std::function<bool(const fs::path& root)> change;  // false: the case cannot run here
    const char* said;
  };
  const std::vector<Case> cases = {
      {"removed", [](const fs::path& root) { return fs::remove_all(root) > 0; }, "the folder was removed"},
      {"renamed",
       [](const fs::path& root) {
         fs::rename(root, root.parent_path() / "Other");
         return true;
       },
       "the folder was moved or renamed"},
      {"unmounted",
       [this](const fs::path& root) {
         return !Wine() && RunProcess({"umount", root.string()}, "/") == 0;
       },
       "the folder was unmounted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path root = t.root() / c.what / "Data";
    fs::create_directories(root);
    const bool mount = std::string(c.what) == "unmounted";
    if (mount && (Wine() || geteuid() != 0 ||
                  RunProcess({"mount", "-t", "tmpfs", "tmpfs", root.string()}, "/") != 0)) {
      std::printf("unmounted case skipped: needs root and the Linux build\n");
      continue;
    }
    WriteFile(root / "a" / "a.xml", "<a/>");
    Child watch = Start(Argv({"--watch", Arg(root)}), "/", t.root());
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(watch.out).find("watching ") != std::string::npos; },
                          std::chrono::seconds(20)))
        << ReadFile(watch.err);
    EXPECT_TRUE(c.change(root)) << "the change could not be made";
    EXPECT_EQ(EndedWith(watch, std::chrono::seconds(Wine() ? 15 : 8)), 1) << ReadFile(watch.err);
    EXPECT_NE(ReadFile(watch.err).find(c.said), std::string::npos) << ReadFile(watch.err);
  }
}

// Where the file system tells nothing of changes made elsewhere, the watch
// polls: a FUSE mount (bindfs) over a folder, changed beneath it, found by
// its type; under Wine, a network drive; and any folder with --poll. A local
// folder spelled as \\?\ (Wine's \\?\unix\...) is no share: it is not polled.
TEST_P(TreeWatch, PollsWhatNotificationsCannotFollow) {
  TempTree t;
  struct Case {
    const char* what;
    std::vector<std::string> args;
    fs::path watched, changed;  // ROOT as watched, and the same folder as changed
    const char* said;           // what the watch says of polling; null: it polls nothing
    std::string root;           // ROOT as typed, when not the watched path
    std::vector<std::string> prefix;  // words that start the watch before its own
  };
  std::vector<Case> cases;
  const fs::path plain = t.root() / "plain" / "Data";
  cases.push_back({"--poll", {"--poll=0.5"}, plain, plain, "as --poll asks"});
  // Polling seldom, the watch still looks at ROOT every 2 s: it ends soon
  // after ROOT's parent is renamed.
  const fs::path seldom = t.root() / "seldom" / "Data";
  cases.push_back({"--poll seldom", {"--poll=60"}, seldom, seldom, "as --poll asks"});
  // Under Wine: a drive Wine's settings call a network drive, in a prefix of
  // this case's own (its drive types are read when its server starts).
  const fs::path share = t.root() / "share";
  fs::create_directories(share / "Data");
  std::vector<std::string> networkPrefix;
  if (Wine()) {
    const fs::path prefix = GetParam().tree.parent_path().parent_path() / "wineprefix-network";
    const std::string server = fs::path(MODMANIFEST_WINE_RUN).parent_path() / "wine-server";
    networkPrefix = {"env", "WINEPREFIX=" + prefix.string()};
    std::vector<std::string> reg = networkPrefix;
    reg.insert(reg.end(), {MODMANIFEST_WINE_RUN, (prefix / "drive_c/windows/system32/reg.exe").string(),
                           "add", "HKLM\\Software\\Wine\\Drives", "/v", "n:", "/d", "network", "/f"});
    fs::create_directories(prefix);
    ASSERT_EQ(RunProcess({server, "start"}, "/", networkPrefix), 0);
    ASSERT_EQ(RunProcess(reg, "/"), 0);
    ASSERT_EQ(RunProcess({server, "stop"}, "/", networkPrefix), 0);
    fs::remove(prefix / "dosdevices" / "n:");
    fs::create_directory_symlink(share, prefix / "dosdevices" / "n:");
    cases.push_back({"a network drive", {}, share / "Data", share / "Data", "a network drive",
                     "N:\\Data", networkPrefix});
    const fs::path local = t.root() / "local" / "Data";
    fs::create_directories(local);
    std::string unixPath = "\\\\?\\unix" + local.string();  // Wine's name for a Unix path
    std::replace(unixPath.begin(), unixPath.end(), '/', '\\');
    cases.push_back({"a local folder as \\\\?\\unix", {}, local, local, nullptr, unixPath});
  }
  // bindfs's mount is of type fuse, or fuse.bindfs where the subtype is given.
  const fs::path beneath = t.root() / "beneath", mount = t.root() / "mount";
  fs::create_directories(beneath / "Data");
  fs::create_directories(mount);
  const bool mounted = !Wine() && MountBindfs(beneath, mount, {"--no-allow-other"});
  if (mounted) cases.push_back({"a FUSE mount", {}, mount / "Data", beneath / "Data", "the file system (fuse"});
  // No mount table to read (an empty file bound over it, in a mount
  // namespace of the watch's own): every folder polled, and said once.
  const fs::path untold = t.root() / "untold" / "Data";
  if (!Wine() && geteuid() == 0 && RunProcess({"unshare", "-m", "true"}, "/") == 0) {
    cases.push_back({"no mount table", {}, untold, untold, "of unknown type (/proc/self/mountinfo cannot be read)", "",
                     {"unshare", "-m", "sh", "-c", "mount --bind /dev/null /proc/$$/mountinfo && exec \"$@\"", "sh"}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(c.changed / "a.xml", "<a/>");
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--watch");
    args.push_back(c.root.empty() ? Arg(c.watched) : c.root);
    std::vector<std::string> argv = c.prefix;
    for (const std::string& a : Argv(args)) argv.push_back(a);
    Child watch = Start(argv, "/", t.root());
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(watch.out).find("watching ") != std::string::npos; },
                          std::chrono::seconds(20)))
        << ReadFile(watch.err);
    if (c.said != nullptr) {
      EXPECT_NE(ReadFile(watch.err).find(c.said), std::string::npos) << ReadFile(watch.err);
    } else {
      EXPECT_EQ(ReadFile(watch.err).find("polling"), std::string::npos) << ReadFile(watch.err);
    }
    const std::vector<std::function<void()>> changes = {
        [&] { WriteFile(c.changed / "b.xml", "<b/>"); },
        [&] {
          fs::create_directory(c.changed / "Units");
          WriteFile(c.changed / "Units" / "u.xml", "<u/>");
        },
        [&] { fs::rename(c.changed / "Units", c.changed / "Army"); },
        [&] { fs::remove(c.changed / "a.xml"); },
    };
    for (const auto& change : changes) {
      change();
      const auto wanted = Reference(c.changed, t.root() / "reference");
      EXPECT_TRUE(WaitUntil([&] { return Manifests(c.watched) == wanted; },
                            std::chrono::seconds(Wine() ? 10 : 3)))
          << ReadFile(watch.err);
    }
    if (c.watched == seldom) {
      fs::rename(seldom.parent_path(), t.root() / "seldom2");
      EXPECT_EQ(EndedWith(watch, std::chrono::seconds(Wine() ? 15 : 8)), 1) << ReadFile(watch.err);
      continue;
    }
    kill(watch.pid, SIGINT);
    EXPECT_EQ(Wait(watch), 0) << ReadFile(watch.err);
  }
  if (mounted) RunProcess({"umount", mount.string()}, "/");
  if (!networkPrefix.empty()) {
    RunProcess({(fs::path(MODMANIFEST_WINE_RUN).parent_path() / "wine-server").string(), "stop"}, "/",
               networkPrefix);
  }
}

// A folder made unreadable and renamed during the watch is reported as a
// run reports it; made readable again, it is looked at again, and what was
// made inside it meanwhile is walked; the same where the watch polls (a FUSE
// mount, changed beneath it), which tells nothing when a folder becomes
// readable. (Linux: Wine tells no change of a folder's permissions.)
TEST_P(TreeWatch, AFolderMadeUnreadableIsReportedAndLookedAtOnceReadable) {
  if (Wine() || (geteuid() != 0 && access("/usr/bin/setpriv", X_OK) != 0)) GTEST_SKIP();
  TempTree t;
  struct Case {
    const char* what;
    fs::path watched, changed;  // ROOT as watched, and the same folder as changed
  };
  std::vector<Case> cases = {{"notified", t.root() / "Mod", t.root() / "Mod"}};
  const fs::path beneath = t.root() / "beneath" / "Mod", mount = t.root() / "mount";
  fs::create_directories(beneath);
  fs::create_directories(mount);
  for (const fs::path& p : {t.root() / "beneath", beneath, mount}) fs::permissions(p, fs::perms::all);
  const bool mounted = MountBindfs(t.root() / "beneath", mount, {"-o", "allow_other"});
  if (mounted) cases.push_back({"polled", mount / "Mod", beneath});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path& root = c.changed;
    WriteFile(root / "Open" / "a.xml", "<a/>");
    for (const fs::path& p : {root, root / "Open"}) fs::permissions(p, fs::perms::all);
    std::vector<std::string> argv = UnprivilegedUser(false);
    for (const std::string& a : Argv({"--watch", Arg(c.watched)})) argv.push_back(a);
    Child watch = Start(argv, "/", t.root());
    const auto deadline = std::chrono::seconds(10);
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(watch.out).find("watching ") != std::string::npos; },
                          deadline))
        << ReadFile(watch.err);
    auto settled = [&](const char* what) {
      SCOPED_TRACE(what);
      const auto wanted = Reference(c.watched, t.root() / "reference");
      EXPECT_TRUE(WaitUntil([&] { return Manifests(c.watched) == wanted; }, deadline)) << ReadFile(watch.err);
    };
    fs::permissions(root / "Open", fs::perms::none);
    fs::rename(root / "Open", root / "Shut");
    const std::string failure = "cannot list folder " + (c.watched / "Shut").string() + ": access denied";
    auto failures = [&] {
      const std::string err = ReadFile(watch.err);
      size_t n = 0;
      for (size_t at = err.find(failure); at != std::string::npos; at = err.find(failure, at + 1)) ++n;
      return n;
    };
    EXPECT_TRUE(WaitUntil([&] { return failures() >= 1; }, deadline)) << ReadFile(watch.err);
    if (c.watched != c.changed) {
      // Polled: ROOT's stamp dated back and seen, so that no recent stamp
      // has the poller look again by chance; nothing then tells of Shut.
      fs::last_write_time(root, fs::file_time_type::clock::now() - std::chrono::hours(1));
      EXPECT_TRUE(WaitUntil([&] { return failures() >= 2; }, deadline)) << ReadFile(watch.err);
    }
    fs::permissions(root / "Shut", fs::perms::all);
    WriteFile(root / "Shut" / "n.xml", "<n/>");
    settled("readable again");
    WriteFile(root / "Shut" / "n2.xml", "<n/>");
    fs::create_directory(root / "Shut" / "NewSub");
    fs::permissions(root / "Shut" / "NewSub", fs::perms::all);
    settled("changed once readable");
    // Listing denied, entering allowed: folders made inside it meanwhile.
    const size_t before = failures();
    fs::permissions(root / "Shut", fs::perms::owner_write | fs::perms::owner_exec | fs::perms::group_write |
                                       fs::perms::group_exec | fs::perms::others_write | fs::perms::others_exec);
    WriteFile(root / "Shut" / "X" / "Y" / "y.xml", "<y/>");
    WriteFile(root / "Shut" / "w.xml", "<w/>");
    for (const fs::path& p : {root / "Shut" / "X", root / "Shut" / "X" / "Y"}) fs::permissions(p, fs::perms::all);
    EXPECT_TRUE(WaitUntil([&] { return failures() > before; }, deadline)) << ReadFile(watch.err);
    fs::permissions(root / "Shut", fs::perms::all);
    settled("made inside it while it could not be listed");
    kill(watch.pid, SIGINT);
    EXPECT_EQ(Wait(watch), 0) << ReadFile(watch.err);
  }
  if (mounted) RunProcess({"umount", mount.string()}, "/");
}

// The CPU time a process has used, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::stol(field);
  }
  return ticks;
}

// A folder bind-mounted onto another inside ROOT is one folder reached by
// two paths: watched once, and at rest once both are current.
TEST_P(TreeWatch, AFolderReachedByTwoPathsIsWatchedOnce) {
  if (Wine() || geteuid() != 0) GTEST_SKIP() << "needs root to mount, on Linux";
  TempTree t;
  const fs::path root = t.root() / "Data";
  WriteFile(root / "a" / "x" / "f.xml", "<f/>");
  fs::create_directories(root / "b");
  if (RunProcess({"mount", "--bind", (root / "a").string(), (root / "b").string()}, "/") != 0) {
    GTEST_SKIP() << "the bind mount failed";
  }
  Child watch = Start(Argv({"--watch", Arg(root)}), "/", t.root());
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(watch.out).find("watching ") != std::string::npos; },
                        std::chrono::seconds(10)));
  // An update that covers both paths.
  WriteFile(root / ".modmanifestignore", "Nothing\n");
  WriteFile(root / "a" / "x" / "g.xml", "<g/>");
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(root / "b" / "x" / "zenter.xml").find("g.xml") != std::string::npos; },
                        std::chrono::seconds(10)));
  const long before = CpuTicks(watch.pid);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LE(CpuTicks(watch.pid) - before, 5);  // a busy loop would take most of the second
  kill(watch.pid, SIGINT);
  EXPECT_EQ(Wait(watch), 0) << ReadFile(watch.err);
  RunProcess({"umount", (root / "b").string()}, "/");
}

// An update deep in a tree reopens the folders above it within the walk's
// budget of descriptors, as a full run does: a change 40 levels down is
// written under an open-file limit of 16.
TEST_P(TreeWatch, AnUpdateDeepInATreeStaysWithinTheOpenFileLimit) {
  if (Wine()) GTEST_SKIP() << "the limit is the Linux program's";
  TempTree t;
  const fs::path root = t.root() / "Deep";
  fs::path deep = root;
  for (int i = 1; i <= 40; ++i) deep /= "d" + std::to_string(i);
  fs::create_directories(deep / "d41" / "d42");
  std::vector<std::string> argv{"/bin/sh", "-c", "ulimit -n 16 && exec \"$0\" \"$@\""};
  for (const std::string& a : Argv({"-q", "--watch", Arg(root)})) argv.push_back(a);
  Child watch = Start(argv, "/", t.root());
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(deep / "d41" / "d42" / "zenter.xml"); },
                        std::chrono::seconds(10)))
      << ReadFile(watch.err);
  WriteFile(deep / "new.xml", "<n/>");
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(deep / "zenter.xml").find("new.xml") != std::string::npos; },
                        std::chrono::seconds(10)))
      << ReadFile(watch.err);
  kill(watch.pid, SIGINT);
  EXPECT_EQ(Wait(watch), 0) << ReadFile(watch.err);
  EXPECT_EQ(ReadFile(watch.err), "");
}

INSTANTIATE_TEST_SUITE_P(Programs, TreeWatch, ::testing::ValuesIn(TreeRunners()),
                         [](const auto& info) { return info.index == 0 ? std::string("linux") : "wine" + std::to_string(info.index); });

}  // namespace
