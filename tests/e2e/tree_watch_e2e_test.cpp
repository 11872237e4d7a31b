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
    const fs::path to = copy / fs::relative(e.path(), root);
    if (e.is_directory()) folders.push_back(to);
    if (!e.is_directory() && !IsManifest(e.path()) && !IsTemporary(e.path())) WriteFile(to, ReadFile(e.path()));
  }
  for (const fs::path& folder : folders) {
    fs::create_directories(folder);
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

INSTANTIATE_TEST_SUITE_P(Programs, TreeWatch, ::testing::ValuesIn(TreeRunners()),
                         [](const auto& info) { return info.index == 0 ? std::string("linux") : "wine" + std::to_string(info.index); });

}  // namespace
