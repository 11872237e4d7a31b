// The change filter: raw changes as each system reports them in, the
// folders whose manifests they touch out, one batch per burst.
#include "tree/change_filter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/process_control.h"
#include "tests/platform/test_support.h"

namespace tree {
void PrintTo(const FolderChange& change, std::ostream* out) {
  *out << '"' << change.folder << '"' << (change.subTree ? " and beneath" : "");
}
}  // namespace tree

namespace {

namespace fs = std::filesystem;
using os::ChangeKind;
using os::EntryKind;
using tree::ChangeBatch;
using tree::ChangeFilter;
using tree::FolderChange;

os::ChangeTraits LinuxTraits() { return {}; }
os::ChangeTraits WindowsTraits() {
  os::ChangeTraits traits;
  traits.namesAnyCase = true;
  return traits;
}
os::ChangeTraits WineTraits() {
  os::ChangeTraits traits = WindowsTraits();
  traits.staleAfterFolderRename = true;
  return traits;
}

// Hands out one scripted set of raw changes, then nothing: a wait for more
// than the quiet period is an interrupt.
class ScriptedSource final : public os::ChangeSource {
 public:
  ScriptedSource(os::ChangeTraits traits, std::vector<os::RawChange> changes)
      : traits_(traits), changes_(std::move(changes)) {}
  const os::ChangeTraits& Traits() const override { return traits_; }
  os::WatchStart Watch(const std::string& folder, const os::FolderHandle&, std::string*) override {
    watched.push_back(folder);
    return os::WatchStart::Started;
  }
  void Unwatch(const std::string& folder) override { unwatched.push_back(folder); }
  os::ChangeWait Wait(int timeout, std::vector<os::RawChange>* changes, std::string*) override {
    if (!changes_.empty()) {
      changes->swap(changes_);
      return os::ChangeWait::Changes;
    }
    if (timeout < 0) return os::ChangeWait::Interrupted;
    os::SleepMilliseconds(static_cast<unsigned>(timeout));
    return os::ChangeWait::TimedOut;
  }
  bool StartOver(std::string*) override {
    ++startedOver;
    return true;
  }

  std::vector<std::string> watched, unwatched;
  int startedOver = 0;

 private:
  os::ChangeTraits traits_;
  std::vector<os::RawChange> changes_;
};

TEST(ChangeFilter, DecidesWhichChangesTouchWhichManifestsOnEverySystem) {
  struct Row {
    const char* what;
    os::ChangeTraits traits;
    std::vector<os::RawChange> changes;
    std::vector<FolderChange> expected;  // empty: nothing (the wait ends as interrupted)
    bool rescanAll = false;
    const char* problem = "";  // the watch cannot go on
  };
  const auto linux = LinuxTraits(), windows = WindowsTraits(), wine = WineTraits();
  const std::string ownTemporary = "~mmt1f-3.tmp";
  const std::vector<Row> rows = {
      {"an XML file created", linux, {{ChangeKind::Created, "a", "x.xml", EntryKind::File}},
       {{"a", false}}},
      {"a folder created: its parent's manifest, and its sub-tree",
       windows, {{ChangeKind::Created, "", "d", EntryKind::Folder}}, {{"", false}, {"d", true}}},
      {"the tool's own write: temporary file made, renamed into place (Linux)", linux,
       {{ChangeKind::Created, "a", ownTemporary, EntryKind::File},
        {ChangeKind::Modified, "a", ownTemporary, EntryKind::File},
        {ChangeKind::RenamedFrom, "a", ownTemporary, EntryKind::File, 9},
        {ChangeKind::RenamedTo, "a", "zenter.xml", EntryKind::File, 9}},
       {}},
      {"the tool's own write, then the rename reported as a modification: compared again (Windows)",
       windows,
       {{ChangeKind::RenamedFrom, "a", ownTemporary, EntryKind::Unknown, 4},
        {ChangeKind::RenamedTo, "a", "zenter.xml", EntryKind::File, 4},
        {ChangeKind::Modified, "a", "zenter.xml", EntryKind::File}},
       {{"a", false}}},
      {"a watched folder's attributes: its parent's manifest and its own", windows,
       {{ChangeKind::AttributesChanged, "", "a", EntryKind::Folder},
        {ChangeKind::AttributesChanged, "a", "x.xml", EntryKind::File}},
       {{"", false}, {"a", false}}},
      {"the attributes of a folder not watched till now: its sub-tree is walked", linux,
       {{ChangeKind::AttributesChanged, "a", "locked", EntryKind::Folder}},
       {{"a", false}, {"a\\locked", true}}},
      {"a manifest edited by hand (Windows, any case)", windows,
       {{ChangeKind::Modified, "a", "ZENTER.XML", EntryKind::File}}, {{"a", false}}},
      {"a manifest edited by hand (Linux)", linux,
       {{ChangeKind::Modified, "a\\b", "Mod.xml", EntryKind::File}}, {{"a\\b", false}}},
      {"another case is another name on Linux", linux,
       {{ChangeKind::Modified, "a", "ZENTER.XML", EntryKind::File},
        {ChangeKind::Modified, "a", "mod.xml", EntryKind::File}},
       {}},
      {"an XML file's bytes and a folder's own time change no manifest", windows,
       {{ChangeKind::Modified, "a", "x.xml", EntryKind::File},
        {ChangeKind::Modified, "", "a", EntryKind::Folder}},
       {}},
      {"an ignore file edited: its folder's sub-tree, taking the place of changes beneath", linux,
       {{ChangeKind::Created, "a\\b", "y.xml", EntryKind::File},
        {ChangeKind::Modified, "a", ".modmanifestignore", EntryKind::File}},
       {{"a", true}}},
      {"a link to a folder is listed, never walked", windows,
       {{ChangeKind::Created, "a", "Link", EntryKind::Link},
        {ChangeKind::Created, "a", "~mmt1f-9.tmp", EntryKind::Link}},
       {{"a", false}}},
      {"a folder named like the ignore file is a folder", linux,
       {{ChangeKind::Created, "a", ".modmanifestignore", EntryKind::Folder}},
       {{"a", false}, {"a\\.modmanifestignore", true}}},
      {"a user's folder named like a temporary file is a folder", linux,
       {{ChangeKind::Created, "a", ownTemporary, EntryKind::Folder},
        {ChangeKind::Created, "a", "~mm backup.tmp", EntryKind::Folder}},
       {{"a", false}, {"a\\~mm backup.tmp", true}, {"a\\" + ownTemporary, true}}},
      {"renamed away from a temporary name, a known folder (Windows does not say)", windows,
       {{ChangeKind::RenamedFrom, "", "~mm1a-2.tmp", EntryKind::Unknown, 5},
        {ChangeKind::RenamedTo, "", "Units", EntryKind::Folder, 5}},
       {{"", false}, {"Units", true}}},
      {"a folder renamed (Linux)", linux,
       {{ChangeKind::RenamedFrom, "a", "b", EntryKind::Folder, 2},
        {ChangeKind::RenamedTo, "a", "c", EntryKind::Folder, 2}},
       {{"a", false}, {"a\\c", true}}},
      {"a folder renamed under Wine: the source starts over, the tree looked at again", wine,
       {{ChangeKind::RenamedFrom, "a", "b", EntryKind::Unknown, 2},
        {ChangeKind::RenamedTo, "a", "c", EntryKind::Folder, 2}},
       {}, true},
      {"changes lost", windows, {{ChangeKind::Lost, "", ""}}, {}, true},
      {"a folder the walk does not visit has no manifest", linux,
       {{ChangeKind::Created, ".git", "x.xml", EntryKind::File}}, {}},
      {"a name holding a backslash names no folder", linux,
       {{ChangeKind::Created, "a", "p\\q", EntryKind::Folder}}, {{"a", false}}},
      {"ROOT removed", linux, {{ChangeKind::FolderGone, "", ""}}, {}, false, "the folder was removed"},
      {"ROOT renamed", linux, {{ChangeKind::FolderMoved, "", ""}}, {}, false,
       "the folder was moved or renamed"},
      {"a sub-folder itself gone: its parent tells", linux,
       {{ChangeKind::FolderGone, "a\\b", ""}, {ChangeKind::FolderMoved, "a", ""}}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScriptedSource source(row.traits, row.changes);
    ChangeFilter filter(row.traits, [&](const std::string& f) { source.Unwatch(f); });
    for (const char* folder : {"", "a", "a\\b", "~mm1a-2.tmp"}) filter.Watching(folder);
    ChangeBatch batch;
    std::string problem;
    const os::ChangeWait waited = filter.NextBatch(source, &batch, &problem);
    EXPECT_EQ(problem, row.problem);
    if (*row.problem != '\0') continue;
    if (row.expected.empty() && !row.rescanAll) {
      EXPECT_EQ(waited, os::ChangeWait::Interrupted);
      continue;
    }
    ASSERT_EQ(waited, os::ChangeWait::Changes);
    EXPECT_EQ(batch.rescanAll, row.rescanAll);
    EXPECT_EQ(batch.changes, row.expected);
    EXPECT_EQ(source.startedOver, row.traits.staleAfterFolderRename ? 1 : 0);
  }
}

// Should an expected change never come, a file the expectation does not
// name ends the wait after a while, so that the step fails instead of
// hanging.
class Watchdog {
 public:
  explicit Watchdog(const platform_test::TempFolder& t)
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

// This build's source (inotify, or ReadDirectoryChangesW under Wine) and the
// filter together, on a real tree.
TEST(ChangeFilter, TurnsThisSystemsChangesIntoTheFoldersWhoseManifestTheyTouch) {
  platform_test::TempFolder t;
  for (const char* folder : {"a", "a/b", "c"}) t.MakeFolder(folder);
  t.WriteFile("c/f0.xml", "");
  std::string problem;
  bool limit = false;
  auto source = os::OpenChangeSource(t.Path(), &problem, &limit);
  ASSERT_NE(source, nullptr) << problem;
  ChangeFilter filter(source->Traits(), [&](const std::string& f) { source->Unwatch(f); });
  os::FolderAccess& access = os::SystemFolders();
  os::FolderHandle top;
  ASSERT_EQ(access.OpenToKeep(t.Path(), &top), 0u);
  bool waited = false;
  auto watch = [&](const std::string& folder) {
    os::FolderHandle handle;
    ASSERT_EQ(access.OpenBeneath(top, folder, &handle), 0u) << folder;
    ASSERT_NE(source->Watch(folder, handle, &problem), os::WatchStart::Failed) << problem;
    // As the watch does: a folder first watched after a batch comes back.
    if (filter.Watching(folder) && waited) filter.Add({folder, true});
  };
  for (const char* folder : {"", "a", "a\\b", "c"}) watch(folder);

  struct Step {
    const char* what;
    std::function<void()> change;
    std::vector<FolderChange> expected;
    std::vector<std::string> visitAfter;  // folders the walk would watch next
    bool wineStartsOver = false;  // under Wine: the whole tree, as after lost changes
    // Windows may report the rename into place as a modification too, whose
    // manifest is then compared again.
    const char* windowsComparesAgain = nullptr;
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
       {{"", false}},
       {},
       false,
       "c"},
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
    ChangeBatch batch;
    {
      Watchdog watchdog(t);
      ASSERT_EQ(filter.NextBatch(*source, &batch, &problem), os::ChangeWait::Changes) << problem;
    }
    waited = true;
    if (step.wineStartsOver && source->Traits().staleAfterFolderRename) {
      EXPECT_TRUE(batch.rescanAll);
    } else {
      EXPECT_FALSE(batch.rescanAll);
      if (step.windowsComparesAgain != nullptr && source->Traits().namesAnyCase) {
        std::erase(batch.changes, FolderChange{step.windowsComparesAgain, false});
      }
      EXPECT_EQ(batch.changes, step.expected);
    }
    for (const std::string& folder : step.visitAfter) watch(folder);
  }
}

}  // namespace
