// End-to-end test of modmanifest-tree --watch: the watch started on a tree,
// the tree changed as a modder changes it, and after each change every
// manifest compared with the per-folder program's, run in every folder of a
// copy of the tree as it now is. The Linux program always runs; each Windows
// program MODMANIFEST_WINDOWS_EXES names runs under Wine.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <thread>

#include "tests/e2e/e2e_support.h"

namespace {

using namespace e2e;

struct WatchRunner {
  Runner folderProgram;
  fs::path tree;
};

std::vector<WatchRunner> WatchRunners() {
  std::vector<WatchRunner> runners;
  for (const Runner& r : Runners()) {
    runners.push_back(
        {r, r.wine ? r.program.parent_path() / "modmanifest-tree.exe" : MODMANIFEST_TREE_PROGRAM});
  }
  return runners;
}

bool IsManifest(const fs::path& p) { return p.filename() == "zenter.xml" || p.filename() == "Mod.xml"; }
bool IsTemporary(const fs::path& p) { return p.filename().string().starts_with("~mm"); }

// Each manifest below root: its bytes and modification time.
struct Manifest {
  std::string bytes;
  long long mtime;
};
std::map<std::string, Manifest> Manifests(const fs::path& root) {
  std::map<std::string, Manifest> found;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::end(it);
       it.increment(error)) {
    struct stat st;
    if (IsManifest(it->path()) && stat(it->path().c_str(), &st) == 0) {
      found[fs::relative(it->path(), root).string()] = {
          ReadFile(it->path()), st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
    }
  }
  return found;
}

// The manifests the per-folder program writes into a copy of the tree as it
// now is (its XML files and folders, no manifest).
std::map<std::string, std::string> Reference(const fs::path& root, const fs::path& scratch) {
  fs::remove_all(scratch);
  // Named as ROOT is, whose name decides its manifest's.
  const fs::path copy = scratch / root.filename();
  fs::create_directories(copy);
  for (auto& e : fs::recursive_directory_iterator(root)) {
    const fs::path to = copy / fs::relative(e.path(), root);
    if (e.is_directory()) {
      fs::create_directories(to);
    } else if (!IsManifest(e.path()) && !IsTemporary(e.path())) {
      fs::copy_file(e.path(), to);
    }
  }
  const Runner folderProgram{"linux", MODMANIFEST_PROGRAM, false};
  EXPECT_EQ(RunIn(folderProgram, copy), 0);
  for (auto& e : fs::recursive_directory_iterator(copy)) {
    if (e.is_directory()) {
      EXPECT_EQ(RunIn(folderProgram, e.path()), 0) << e.path();
    }
  }
  std::map<std::string, std::string> manifests;
  for (auto& [path, manifest] : Manifests(copy)) manifests[path] = manifest.bytes;
  return manifests;
}

std::map<std::string, std::string> Bytes(const std::map<std::string, Manifest>& manifests) {
  std::map<std::string, std::string> bytes;
  for (auto& [path, manifest] : manifests) bytes[path] = manifest.bytes;
  return bytes;
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

class TreeWatch : public ::testing::TestWithParam<WatchRunner> {
 protected:
  bool Wine() const { return GetParam().folderProgram.wine; }
  std::string Arg(const fs::path& path) const {
    if (!Wine()) return path.string();
    std::string p = "Z:" + path.string();
    for (char& c : p) c = c == '/' ? '\\' : c;
    return p;
  }
  std::vector<std::string> Argv(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = Launcher(GetParam().folderProgram);
    argv.push_back(GetParam().tree.string());
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
};

TEST_P(TreeWatch, EveryManifestFollowsTheTreeUntilCtrlC) {
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
    const auto before = Manifests(root);
    step.change();
    const auto wanted = Reference(root, t.root() / "reference");
    EXPECT_TRUE(WaitUntil([&] { return Bytes(Manifests(root)) == wanted; }, deadline))
        << ReadFile(watch.err);
    // A manifest whose bytes stay is not written again.
    for (auto& [path, manifest] : Manifests(root)) {
      const auto old = before.find(path);
      if (old != before.end() && old->second.bytes == manifest.bytes && path != step.handEdited) {
        EXPECT_EQ(old->second.mtime, manifest.mtime) << path;
      }
    }
  }

  kill(watch.pid, SIGINT);
  EXPECT_EQ(Wait(watch), 0) << ReadFile(watch.err);
  for (auto& e : fs::recursive_directory_iterator(root)) EXPECT_FALSE(IsTemporary(e.path())) << e.path();
  const std::string out = ReadFile(watch.out);
  EXPECT_TRUE(std::regex_search(out, std::regex(R"(\n\d\d:\d\d:\d\d wrote .*Units.zenter\.xml\n)"))) << out;
  EXPECT_EQ(ReadFile(watch.err), "");
}

// The system's limit of inotify watches, lowered for this one run to fewer
// than the tree has folders: the run's manifests are right, the error names
// the setting, and the status is 1.
TEST_P(TreeWatch, TheLimitOfWatchesEndsTheWatchSayingWhatToRaise) {
  const fs::path setting = "/proc/sys/fs/inotify/max_user_watches";
  if (Wine()) GTEST_SKIP() << "an inotify limit";
  std::ofstream probe(setting, std::ios::app);
  if (!probe) GTEST_SKIP() << "cannot change " << setting;
  probe.close();
  TempTree t;
  const fs::path root = t.root() / "Mod";
  for (int i = 0; i < 30; ++i) WriteFile(root / ("F" + std::to_string(i)) / "f.xml", "<f/>");
  const std::string saved = ReadFile(setting);
  // The watches this user holds already, and room for a few more.
  long held = 0;
  for (auto& process : fs::directory_iterator("/proc")) {
    std::error_code error;
    for (auto it = fs::directory_iterator(process.path() / "fdinfo", error);
         !error && it != fs::end(it); it.increment(error)) {
      std::ifstream info(it->path());
      for (std::string line; std::getline(info, line);) held += line.starts_with("inotify wd:");
    }
  }
  WriteFile(setting, std::to_string(held + 5) + "\n");
  Output o = RunCaptured(Argv({"--watch", Arg(root)}), "/");
  WriteFile(setting, saved);
  EXPECT_EQ(o.status, 1) << o.err;
  EXPECT_NE(o.err.find("fs.inotify.max_user_watches"), std::string::npos) << o.err;
  EXPECT_EQ(Bytes(Manifests(root)), Reference(root, t.root() / "reference"));
}

INSTANTIATE_TEST_SUITE_P(Programs, TreeWatch, ::testing::ValuesIn(WatchRunners()),
                         [](const auto& info) { return info.index == 0 ? std::string("linux") : "wine" + std::to_string(info.index); });

}  // namespace
