// The tree watch of this build's back-end (inotify, or ReadDirectoryChangesW
// under Wine): file system changes in, the folders whose manifest may have
// changed out, one batch per burst.
#include "platform/tree_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "tests/platform/test_support.h"

namespace os::tree {
void PrintTo(const FolderChange& change, std::ostream* out) {
  *out << '"' << change.folder << '"' << (change.subTree ? " and beneath" : "");
}
}  // namespace os::tree

namespace {

namespace fs = std::filesystem;
using os::tree::FolderChange;
using platform_test::TempFolder;

// Should an expected event never come, a file the expectation does not name
// ends the wait after a while, so that the step fails instead of hanging.
class Watchdog {
 public:
  explicit Watchdog(const TempFolder& t)
      : thread_([this, &t] {
          std::unique_lock lock(mutex_);
          if (!done_.wait_for(lock, std::chrono::seconds(20), [this] { return over_; })) {
            t.WriteFile("watchdog.xml", "");
          }
        }) {}
  ~Watchdog() {
    { std::lock_guard lock(mutex_); over_ = true; }
    done_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool over_ = false;
  std::thread thread_;
};

TEST(TreeWatch, ChangesComeOutAsTheFoldersWhoseManifestTheyTouch) {
  TempFolder t;
  for (const char* folder : {"a", "a/b", "c"}) t.MakeFolder(folder);
  t.WriteFile("c/f0.xml", "");
  std::string problem;
  bool limit = false;
  auto watch = os::tree::OpenTreeWatch(t.Path(), &problem, &limit,
                                       {".modmanifestignore", {"zenter.xml", "Mod.xml"}});
  ASSERT_NE(watch, nullptr) << problem;
  for (const char* folder : {"", "a", "a\\b", "c"}) ASSERT_TRUE(watch->Add(folder, &problem, &limit));

  struct Step {
    const char* what;
    std::function<void()> change;
    std::vector<FolderChange> expected;
    std::vector<std::string> visitAfter;  // folders the walk would watch next
    bool wineStartsOver = false;  // under Wine: the whole tree, as after an overflow
  };
  const std::vector<Step> steps = {
      {"an XML file created", [&] { t.WriteFile("a/b/x.xml", "<x/>"); }, {{"a\\b", false}}},
      {"a burst is one batch",
       [&] {
         for (int i = 0; i < 40; ++i) t.WriteFile((i % 2 ? "a/" : "c/") + std::to_string(i) + ".xml", "");
       },
       {{"a", false}, {"c", false}}},
      {"a folder created with files",
       [&] {
         t.MakeFolder("d");
         t.WriteFile("d/1.xml", "");
       },
       {{"", false}, {"d", true}},
       {"d"}},
      // d is new since the last batch: it comes back once by itself.
      {"a folder renamed",
       [&] { fs::rename(t.Native("a"), t.Native("e")); },
       {{"", false}, {"d", true}, {"e", true}},
       {},
       true},
      {"the tools' temporary files and their renames are no change",
       [&] {
         t.WriteFile("c/~mmt123-1.tmp", "<m/>");
         fs::rename(t.Native("c/~mmt123-1.tmp"), t.Native("c/zenter.xml"));
         t.WriteFile("c/~mm7b-2.tmp", "");
         fs::remove(t.Native("c/~mm7b-2.tmp"));
         t.WriteFile("root.xml", "");
       },
       {{"", false}}},
      {"a manifest edited by hand, an XML file rewritten under its name",
       [&] {
         t.WriteFile("c/f0.xml", "<new/>");
         t.WriteFile("c/zenter.xml", "<edited/>");
       },
       {{"c", false}}},
      {"an ignore file edited", [&] { t.WriteFile("c/.modmanifestignore", "x\n"); }, {{"c", true}}},
      // Its files go first, which d's own watch sees.
      {"a folder deleted", [&] { fs::remove_all(t.Native("d")); }, {{"", false}, {"d", false}}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    os::tree::WatchBatch batch;
    {
      Watchdog watchdog(t);
      ASSERT_EQ(watch->Wait(&batch, &problem), os::tree::WatchWait::Changes) << problem;
    }
    // (Wine is told apart as the read-only check tells it.)
    if (step.wineStartsOver && platform_test::WineIgnoresReadOnly()) {
      EXPECT_TRUE(batch.rescanAll);
    } else {
      EXPECT_FALSE(batch.rescanAll);
      EXPECT_EQ(batch.changes, step.expected);
    }
    for (const std::string& folder : step.visitAfter) ASSERT_TRUE(watch->Add(folder, &problem, &limit));
  }
}

#ifndef _WIN32
// A queue the kernel caps at a few events, for this watch only (the setting
// is read when a watch is opened): a burst beyond it is a rescan of
// everything.
TEST(TreeWatch, LostEventsAskForEverythingAgain) {
  const char* setting = "/proc/sys/fs/inotify/max_queued_events";
  std::string saved;
  std::getline(std::ifstream(setting), saved);
  if (saved.empty() || !std::ofstream(setting)) GTEST_SKIP() << "cannot change " << setting;
  TempFolder t;
  std::string problem;
  bool limit = false;
  std::ofstream(setting) << "4\n";
  auto watch = os::tree::OpenTreeWatch(t.Path(), &problem, &limit, {});
  std::ofstream(setting) << saved << "\n";
  ASSERT_NE(watch, nullptr) << problem;
  ASSERT_TRUE(watch->Add("", &problem, &limit));
  for (int i = 0; i < 20; ++i) t.WriteFile(std::to_string(i) + ".xml", "");
  os::tree::WatchBatch batch;
  ASSERT_EQ(watch->Wait(&batch, &problem), os::tree::WatchWait::Changes) << problem;
  EXPECT_TRUE(batch.rescanAll);
  EXPECT_TRUE(batch.changes.empty());
}
#endif

}  // namespace
