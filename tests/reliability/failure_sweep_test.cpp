// The whole program, run in-process over the fake platform, with every heap
// request and every step of writing the manifest failing in turn. Whatever
// fails, the manifest a user already has must survive byte for byte and no
// temporary file may be left in the folder.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "generator/program.h"
#include "platform/app_framework.h"
#include "platform/platform.h"
#include "platform/posix/posix_testing.h"
#include "runtime/host/runtime_application.h"
#include "tests/reliability/expected_manifest.h"
#include "tests/fake/fake_platform.h"

namespace {

using reliability::ExpectedManifest;

const char kPreviousManifest[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<AssetDeclaration>written by an earlier "
    "run</AssetDeclaration>\r\n";

// GBK bytes of "字节内存失败", which every allocation-failure box holds.
const char kAllocationFailureGbk[] = "\xD7\xD6\xBD\xDA\xC4\xDA\xB4\xE6\xCA\xA7\xB0\xDC";

// A folder as the fake lists it, with the manifest of an earlier run.
struct Tree {
  std::string name;
  std::string modulePath;
  std::vector<std::string> folders;
  std::string manifest;
  std::vector<fake::Entry> xmlListing;  // empty: the pattern matches nothing
  std::vector<fake::Entry> allListing;
  std::vector<std::string> entries;     // what the manifest must list
};

std::vector<Tree> Trees() {
  using E = fake::Entry;
  const os::Dword file = os::kAttrArchive, dir = os::kAttrDirectory;
  // Two XML files, the previous manifest, the tool itself and two sub-folders.
  Tree tools{"tools folder",
             "C:\\Tools\\Gen\\tool.exe",
             {"C:", "C:\\Tools", "C:\\Tools\\Gen"},
             "C:\\Tools\\Gen\\zenter.xml",
             {E{"a.xml", file}, E{"b.xml", file}, E{"zenter.xml", file}},
             {E{".", dir}, E{"..", dir}, E{"a.xml", file}, E{"b.xml", file}, E{"S", dir},
              E{"T", dir}, E{"tool.exe", file}, E{"zenter.xml", file}},
             // A run never lists the manifest it writes.
             {"a.xml", "b.xml", "S\\zenter.xml", "T\\zenter.xml"}};
  // A mod's Data folder without XML files of its own: it gets Mod.xml.
  Tree data{"Data folder",
            "C:\\Mods\\MyMod\\Data\\tool.exe",
            {"C:", "C:\\Mods", "C:\\Mods\\MyMod", "C:\\Mods\\MyMod\\Data"},
            "C:\\Mods\\MyMod\\Data\\Mod.xml",
            {},
            {E{".", dir}, E{"..", dir}, E{"Art", dir}, E{"Mod.xml", file}, E{"tool.exe", file},
             E{"Units", dir}},
            {"Art\\zenter.xml", "Units\\zenter.xml"}};
  return {tools, data};
}

void ScriptTree(const Tree& tree, fake::FakePlatform& f) {
  f.modulePath = tree.modulePath;
  f.folders = {tree.folders.begin(), tree.folders.end()};
  std::string folder = tree.folders.back();
  if (!tree.xmlListing.empty()) f.listings[folder + "\\*.xml"] = tree.xmlListing;
  f.listings[folder + "\\*.*"] = tree.allListing;
  f.files[tree.manifest].bytes = kPreviousManifest;
}

// How one in-process run ended.
struct Outcome {
  bool exited = false;     // through ExitProcess (the runtime-error path)
  uint32_t status = 0;     // exit code, or the framework's result
  std::vector<fake::MessageBox> boxes;
  std::map<std::string, fake::File> files;
  int heapRequests = 0;
  int writeCalls = 0;
  size_t liveBlocks = 0;
  int openFiles = 0;
  int openFinds = 0;
};

// Runs the program as its entry point does: the framework's main routine
// drives a fresh RuntimeApplication over a fresh fake.
Outcome RunProgram(const Tree& tree, const std::function<void(fake::FakePlatform&)>& script) {
  fake::FakePlatform f;
  ScriptTree(tree, f);
  script(f);
  Outcome o;
  {
    rt::RuntimeApplication app(gen::ThisProgram());
    try {
      o.status = static_cast<uint32_t>(os::FrameworkMain(nullptr, "", 10));
    } catch (const fake::FakeExit& e) {
      o.exited = true;
      o.status = e.code;
    }
    // Nothing may refuse the clean-up the application's destructor runs.
    f.refuseFromRequest = 0;
    f.failClose = f.failFlush = f.failMove = false;
    f.shortWriteAt = 0;
  }
  o.boxes = f.boxes;
  o.files = f.files;
  o.heapRequests = f.heapRequests;
  o.writeCalls = f.writeCalls;
  o.liveBlocks = f.LiveBlocks();
  o.openFiles = f.openFiles;
  o.openFinds = f.openFinds;
  return o;
}

// The folder holds exactly the previous manifest, unchanged.
void ExpectPreviousManifestOnly(const Tree& tree, const Outcome& o, const std::string& what) {
  std::string names;
  for (const auto& [path, file] : o.files) names += " " + path;
  ASSERT_EQ(o.files.size(), 1u) << what << ": the folder holds" << names;
  ASSERT_EQ(o.files.count(tree.manifest), 1u) << what;
  EXPECT_EQ(o.files.at(tree.manifest).bytes, kPreviousManifest) << what;
}

TEST(FailureSweep, CleanRunWritesTheManifestAndReleasesEverything) {
  for (const Tree& tree : Trees()) {
    Outcome o = RunProgram(tree, [](fake::FakePlatform&) {});
    EXPECT_FALSE(o.exited) << tree.name;
    EXPECT_EQ(o.status, 0u) << tree.name;
    EXPECT_TRUE(o.boxes.empty()) << tree.name;
    ASSERT_EQ(o.files.size(), 1u) << tree.name;
    EXPECT_EQ(o.files.at(tree.manifest).bytes, ExpectedManifest(tree.entries)) << tree.name;
    EXPECT_EQ(o.liveBlocks, 0u) << tree.name;
    EXPECT_EQ(o.openFiles, 0) << tree.name;
    EXPECT_EQ(o.openFinds, 0) << tree.name;
  }
}

// Fails the 1st heap request, then the 2nd, and so on, until a run no longer
// reaches the refused request and completes.
TEST(FailureSweep, EveryHeapRefusalEndsThroughTheAllocationBoxAndKeepsTheManifest) {
  int covered = 0;
  for (const Tree& tree : Trees()) {
    for (int n = 1;; ++n) {
      Outcome o = RunProgram(tree, [n](fake::FakePlatform& f) { f.refuseFromRequest = n; });
      std::string what = tree.name + ", heap request " + std::to_string(n) + " refused";
      if (!o.exited) {
        // The run made fewer than n requests: it is complete.
        EXPECT_EQ(o.status, 0u) << what;
        EXPECT_EQ(o.files.at(tree.manifest).bytes, ExpectedManifest(tree.entries)) << what;
        EXPECT_GT(n, 10) << what << ": hardly any allocation reached";
        break;
      }
      ++covered;
      EXPECT_EQ(o.status, 0xFFFFFFFFu) << what;
      ASSERT_EQ(o.boxes.size(), 1u) << what;
      EXPECT_NE(o.boxes[0].text.find(kAllocationFailureGbk), std::string::npos)
          << what << ": not the allocation-failure box";
      ExpectPreviousManifestOnly(tree, o, what);
      ASSERT_LT(n, 100000) << "the sweep does not end";
    }
  }
  std::printf("allocation points covered: %d\n", covered);
  RecordProperty("allocation_points", covered);
}

TEST(FailureSweep, EveryFailingWriteStepKeepsThePreviousManifestAndExitsWithOne) {
  int tried = 0;
  for (const Tree& tree : Trees()) {
    int writes = RunProgram(tree, [](fake::FakePlatform&) {}).writeCalls;
    ASSERT_GT(writes, 0) << tree.name;
    std::vector<std::pair<std::string, std::function<void(fake::FakePlatform&)>>> failures;
    for (int k = 1; k <= writes; ++k) {
      failures.emplace_back("short write at call " + std::to_string(k),
                            [k](fake::FakePlatform& f) { f.shortWriteAt = k; });
    }
    failures.emplace_back("failed flush", [](fake::FakePlatform& f) { f.failFlush = true; });
    failures.emplace_back("failed close", [](fake::FakePlatform& f) { f.failClose = true; });
    failures.emplace_back("failed replace", [](fake::FakePlatform& f) { f.failMove = true; });
    failures.emplace_back("failed create", [](fake::FakePlatform& f) { f.failCreate = true; });
    failures.emplace_back("read-only manifest", [&tree](fake::FakePlatform& f) {
      f.files[tree.manifest].attributes = os::kAttrReadOnly;
    });
    for (auto& [failure, script] : failures) {
      std::string what = tree.name + ", " + failure;
      Outcome o = RunProgram(tree, script);
      EXPECT_FALSE(o.exited) << what;
      EXPECT_EQ(o.status, 1u) << what;
      EXPECT_TRUE(o.boxes.empty()) << what;
      ExpectPreviousManifestOnly(tree, o, what);
      EXPECT_EQ(o.openFiles, 0) << what;
      EXPECT_EQ(o.liveBlocks, 0u) << what;
      ++tried;
    }
  }
  std::printf("write failures tried: %d\n", tried);
}

}  // namespace

// --- The real POSIX back-end with its own allocations failing in turn --------
// While armed, the nth allocation made inside a back-end call is refused at
// the back-end's allocation entry, as an exhausted heap would refuse it.

namespace {
thread_local int t_inBackEnd = 0;
std::atomic<long> g_failAt{0};   // 0: count only
std::atomic<long> g_counted{0};  // allocations made inside back-end calls

bool RefuseTheNthInBackEnd(size_t) { return t_inBackEnd > 0 && ++g_counted == g_failAt.load(); }

namespace fs = std::filesystem;

// A table entry of the native back-end, counted as "inside the back-end".
template <auto Member>
struct InBackEnd;

template <typename R, typename... A, R (*os::Platform::*M)(A...)>
struct InBackEnd<M> {
  static R Call(A... args) {
    struct Depth {
      Depth() { ++t_inBackEnd; }
      ~Depth() { --t_inBackEnd; }
    } depth;
    return (os::NativePlatform().*M)(args...);
  }
};

os::Platform CountedNativeTable() {
  os::Platform t = os::NativePlatform();
#define MM_COUNTED(name) t.name = InBackEnd<&os::Platform::name>::Call
  MM_COUNTED(GetModuleFileNameA);
  MM_COUNTED(SetCurrentDirectoryA);
  MM_COUNTED(GetCurrentDirectoryA);
  MM_COUNTED(MultiByteToWideChar);
  MM_COUNTED(WideCharToMultiByte);
  MM_COUNTED(FindFirstFileA);
  MM_COUNTED(FindFirstFileExA);
  MM_COUNTED(FindNextFileA);
  MM_COUNTED(FindClose);
  MM_COUNTED(CreateFileA);
  MM_COUNTED(WriteFile);
  MM_COUNTED(CloseHandle);
  MM_COUNTED(GetFileAttributesA);
  MM_COUNTED(MoveFileExA);
  MM_COUNTED(DeleteFileA);
  MM_COUNTED(RegisterClassA);
  MM_COUNTED(UnregisterClassA);
  MM_COUNTED(CreateWindowExA);
  MM_COUNTED(DestroyWindow);
  MM_COUNTED(PostMessageA);
  MM_COUNTED(PeekMessageA);
  MM_COUNTED(GetModuleHandleA);
  MM_COUNTED(MessageBoxA);
#undef MM_COUNTED
  return t;
}

// Runs the program over the native back-end in folder (started by a link
// there to this test program) and ends the process with its status; with
// countFile, first writes how many allocations the back-end made.
[[noreturn]] void RunNative(const fs::path& folder, long failAt, const fs::path& countFile) {
  static os::Platform table = CountedNativeTable();
  os::InstallPlatform(&table);
  os::posix::ReplaceAllocationRefusal(&RefuseTheNthInBackEnd);
  static std::string start;
  start = (folder / "modmanifest").string();
  os::SetStartPath(start.c_str());
  g_counted = 0;
  g_failAt = failAt;
  int status;
  {
    rt::RuntimeApplication app(gen::ThisProgram());
    status = os::FrameworkMain(nullptr, "", 10);
  }
  g_failAt = 0;
  if (!countFile.empty()) std::ofstream(countFile) << g_counted.load();
  os::NativePlatform().ExitProcess(static_cast<uint32_t>(status));
  std::abort();
}

std::vector<std::string> FolderNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FailureSweepDeathTest, EveryAllocationOfTheBackEndEndsThroughTheBoxAndKeepsTheManifest) {
  const fs::path folder = fs::temp_directory_path() /
                          ("mm-sweep-" + std::to_string(os::NativePlatform().GetCurrentProcessId()));
  fs::remove_all(folder);
  fs::create_directories(folder / "Art");
  fs::create_directories(folder / "Units");
  for (const char* name : {"a.xml", "b.xml", "zenter.xml"}) std::ofstream(folder / name) << "x";
  std::ofstream(folder / "zenter.xml", std::ios::binary) << kPreviousManifest;
  fs::create_symlink(fs::read_symlink("/proc/self/exe"), folder / "modmanifest");
  const std::vector<std::string> before = FolderNames(folder);

  const fs::path countFile = fs::temp_directory_path() / (folder.filename().string() + ".count");
  EXPECT_EXIT(RunNative(folder, 0, countFile), ::testing::ExitedWithCode(0), "");
  long count = 0;
  std::ifstream(countFile) >> count;
  fs::remove(countFile);
  EXPECT_GT(count, 5) << "hardly any allocation of the back-end reached";
  std::ofstream(folder / "zenter.xml", std::ios::binary) << kPreviousManifest;

  const std::string complete =
      ExpectedManifest({"a.xml", "b.xml", "Art\\zenter.xml", "Units\\zenter.xml"});
  for (long n = 1; n <= count; ++n) {
    EXPECT_EXIT(RunNative(folder, n, {}), ::testing::ExitedWithCode(255),
                "错误\n运行时出错!\n\n错误信息：分配 [1-9][0-9]* 字节内存失败!")
        << "back-end allocation " << n;
    EXPECT_EQ(FolderNames(folder), before) << "back-end allocation " << n;
    std::ifstream in(folder / "zenter.xml", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Failing after the rename (syncing the folder, the clean-up), the run
    // ends through the box with the new manifest complete in place.
    EXPECT_TRUE(bytes == kPreviousManifest || bytes == complete) << "back-end allocation " << n;
    std::ofstream(folder / "zenter.xml", std::ios::binary) << kPreviousManifest;
  }
  std::printf("back-end allocation points covered: %ld\n", count);
  fs::remove_all(folder);
}

}  // namespace
