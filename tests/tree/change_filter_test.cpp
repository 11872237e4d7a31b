// The watch's line: raw changes as each system (or the poller) reports
// them, the filter's decision, the registry of folders watched, and the
// loop that gathers a burst into one batch and keeps the ticks on time.
#include "tree/change_filter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "tests/platform/test_support.h"
#include "tree/poller.h"
#include "tree/watch_loop.h"
#include "tree/watch_registry.h"

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
using tree::ChangeMeaning;
using tree::FolderChange;
using tree::WatchLoop;

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

// A source on a clock of its own: each change arrives at its second, and a
// wait takes the time it is given, not a moment of the test's.
class TimedSource final : public os::ChangeSource {
 public:
  explicit TimedSource(os::ChangeTraits traits) : traits_(traits) {}
  const os::ChangeTraits& Traits() const override { return traits_; }
  os::WatchStart Watch(const std::string&, const os::FolderHandle&, std::string*) override {
    return os::WatchStart::Started;
  }
  void Unwatch(const std::string& folder) override { unwatched.push_back(folder); }
  os::ChangeWait Wait(int timeout, std::vector<os::RawChange>* changes, std::string*) override {
    const double until = now + timeout / 1000.0;
    if (next < arrivals.size() && arrivals[next].first <= until) {
      now = std::max(now, arrivals[next].first);
      changes->push_back(arrivals[next++].second);
      return os::ChangeWait::Changes;
    }
    now = until;
    return os::ChangeWait::TimedOut;
  }
  bool StartOver(std::string*) override {
    ++startedOver;
    return true;
  }

  double now = 0;
  std::vector<std::pair<double, os::RawChange>> arrivals;  // by their second
  size_t next = 0;
  std::vector<std::string> unwatched;
  int startedOver = 0;

 private:
  os::ChangeTraits traits_;
};

// The registry over such a source, watching the given folders.
struct Watched {
  Watched(os::ChangeTraits traits, std::vector<std::string> folders)
      : source(traits), poller(os::SystemFolders(), traits.namesAnyCase ? tree::NameCase::Any
                                                                        : tree::NameCase::Exact),
        registry(source, poller) {
    std::string problem;
    for (const std::string& folder : folders) registry.Watch(folder, os::FolderHandle(), 1, &problem);
  }
  TimedSource source;
  tree::Poller poller;
  tree::WatchRegistry registry;
};

TEST(ChangeFilter, DecidesWhichChangesTouchWhichManifestsOnEverySystem) {
  struct Row {
    const char* what;
    os::ChangeTraits traits;
    std::vector<os::RawChange> changes;
    std::vector<FolderChange> expected;
    bool rescanAll = false;
    const char* problem = "";  // the watch cannot go on
    std::vector<std::string> forgotten = {};  // no longer watched, with their sub-trees
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
      {"a file of a temporary name renamed to an XML name: the new name counts", linux,
       {{ChangeKind::RenamedFrom, "a", "~mm999-1.tmp", EntryKind::File, 6},
        {ChangeKind::RenamedTo, "a", "units.xml", EntryKind::File, 6}},
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
       {{"", false}, {"Units", true}}, false, "", {"~mm1a-2.tmp"}},
      {"a folder renamed (Linux)", linux,
       {{ChangeKind::RenamedFrom, "a", "b", EntryKind::Folder, 2},
        {ChangeKind::RenamedTo, "a", "c", EntryKind::Folder, 2}},
       {{"a", false}, {"a\\c", true}}, false, "", {"a\\b"}},
      {"a folder renamed under Wine: the source starts over, the tree looked at again", wine,
       {{ChangeKind::RenamedFrom, "a", "b", EntryKind::Unknown, 2},
        {ChangeKind::RenamedTo, "a", "c", EntryKind::Folder, 2}},
       {{"a", false}, {"a\\c", true}}, true, "", {"a\\b"}},
      {"changes lost", windows, {{ChangeKind::Lost, "", ""}}, {}, true},
      {"a folder the walk does not visit has no manifest", linux,
       {{ChangeKind::Created, ".git", "x.xml", EntryKind::File}}, {}},
      {"a name holding a backslash names no folder", linux,
       {{ChangeKind::Created, "a", "p\\q", EntryKind::Folder}}, {{"a", false}}},
      {"ROOT removed", linux, {{ChangeKind::FolderGone, "", ""}}, {}, false, "the folder was removed"},
      {"ROOT renamed", linux, {{ChangeKind::FolderMoved, "", ""}}, {}, false,
       "the folder was moved or renamed"},
      {"ROOT's file system unmounted, then its watch gone", linux,
       {{ChangeKind::FolderUnmounted, "", ""}, {ChangeKind::FolderGone, "", ""}}, {}, false,
       "the folder was unmounted"},
      {"a sub-folder itself gone: its parent tells", linux,
       {{ChangeKind::FolderGone, "a\\b", ""}, {ChangeKind::FolderMoved, "a", ""}}, {}, false, "",
       {"a\\b"}},
      {"what a poll finds: names moved, a folder it cannot open, in watched folders only", windows,
       {{ChangeKind::Modified, "a", ""}, {ChangeKind::Lost, "a\\b", ""},
        {ChangeKind::Modified, ".git", ""}, {ChangeKind::Lost, ".git\\x", ""}},
       {{"a", false}, {"a\\b", true}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Watched watched(row.traits, {"", "a", "a\\b", "~mm1a-2.tmp"});
    ChangeFilter filter(row.traits, watched.registry);
    ChangeBatch batch;
    std::vector<std::string> forgotten;
    std::string problem;
    for (const os::RawChange& change : row.changes) {
      const ChangeMeaning meaning = filter.Take(change);
      if (meaning.outcome == ChangeMeaning::Outcome::RootRemoved) problem = tree::kRootRemoved;
      if (meaning.outcome == ChangeMeaning::Outcome::RootMoved) problem = tree::kRootMoved;
      if (meaning.outcome == ChangeMeaning::Outcome::RootUnmounted) problem = tree::kRootUnmounted;
      if (!problem.empty()) break;  // the watch ends at the first
      EXPECT_EQ(meaning.outcome == ChangeMeaning::Outcome::Relevant,
                !meaning.redo.empty() || meaning.rescanAll);
      batch.rescanAll = batch.rescanAll || meaning.rescanAll || meaning.startOver;
      for (const FolderChange& redo : meaning.redo) tree::AddChange(&batch.changes, redo);
      forgotten.insert(forgotten.end(), meaning.forget.begin(), meaning.forget.end());
    }
    EXPECT_EQ(problem, row.problem);
    EXPECT_EQ(batch.rescanAll, row.rescanAll);
    EXPECT_EQ(batch.changes, row.expected);
    EXPECT_EQ(forgotten, row.forgotten);
  }
}

// The loop on a clock of its own: a burst is one batch once it has been
// quiet for 150 ms, a stream is cut at 3 s, and the ticks come on time
// whatever arrives.
TEST(WatchLoop, GathersBurstsAndKeepsTheTicksOnTime) {
  struct Row {
    const char* what;
    double every, until;  // a change in "a" every so many seconds, up to until
    const char* ticks;    // the seconds each tick came at
    const char* batches;  // and each batch
  };
  const std::vector<Row> rows = {
      {"a change every 0.5 s: each its own batch, and the ticks still every second", 0.5, 5,
       "1.00 2.00 3.00 4.00 5.00", "0.65 1.15 1.65 2.15 2.65 3.15 3.65 4.15 4.65 5.15"},
      {"a change every 0.1 s: a batch at least every 3 s", 0.1, 5, "1.00 2.00 3.00 4.00 5.00",
       "3.10 5.15"},
      {"one change, then quiet: ticks alone", 0.3, 0.3, "1.00 2.00 3.00 4.00 5.00", "0.45"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Watched watched(LinuxTraits(), {"", "a"});
    TimedSource& source = watched.source;
    for (int i = 1; i * row.every <= row.until + 1e-9; ++i) {
      source.arrivals.push_back({i * row.every, {ChangeKind::Created, "a", "x.xml", EntryKind::File}});
    }
    WatchLoop loop(source, watched.registry, 1, [&] { return source.now; });
    std::string ticks, batches, problem;
    auto note = [&](std::string* list) {
      if (source.now > 5.5) return;
      char at[16];
      std::snprintf(at, sizeof at, "%s%.2f", list->empty() ? "" : " ", source.now);
      *list += at;
    };
    while (source.now < 5.5) {
      ChangeBatch batch;
      const WatchLoop::Next next = loop.Wait(&batch, &problem);
      ASSERT_NE(next, WatchLoop::Next::Failed) << problem;
      if (next == WatchLoop::Next::Tick) note(&ticks);
      if (next == WatchLoop::Next::Batch) {
        EXPECT_EQ(batch.changes, (std::vector<FolderChange>{{"a", false}}));
        note(&batches);
      }
    }
    EXPECT_EQ(ticks, row.ticks);
    EXPECT_EQ(batches, row.batches);
  }
}

// The registry forgets a sub-tree by the source's case rule, and a folder
// first watched once the watch is under way comes back with its sub-tree.
TEST(WatchRegistry, ForgetsBySourcesCaseRuleAndBringsLateFoldersBack) {
  struct Row {
    const char* what;
    os::ChangeTraits traits;
    std::vector<std::string> left;       // watched after forgetting "A\\b"
    std::vector<std::string> unwatched;  // what the source was told
  };
  const std::vector<Row> rows = {
      {"Windows: another case is the same folder", WindowsTraits(), {"", "a", "a b"}, {"A\\b"}},
      {"Linux: another case is another folder", LinuxTraits(),
       {"", "a", "a b", "a\\B", "a\\B\\c"}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Watched watched(row.traits, {"", "a", "a\\B", "a\\B\\c", "a b"});
    watched.registry.Forget("A\\b");
    EXPECT_EQ(watched.registry.Watched(""), row.left);
    EXPECT_EQ(watched.source.unwatched, row.unwatched);
    std::string problem;
    watched.registry.Watch("early", os::FolderHandle(), 2, &problem);
    EXPECT_TRUE(watched.registry.TakeReturning().empty());
    watched.registry.Begin();
    watched.registry.Watch("late", os::FolderHandle(), 3, &problem);
    EXPECT_EQ(watched.registry.TakeReturning(), (std::vector<FolderChange>{{"late", true}}));
    EXPECT_TRUE(watched.registry.Holds("late", 3));
    EXPECT_FALSE(watched.registry.Holds("late", 4));
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

// This build's source (inotify, or ReadDirectoryChangesW under Wine), the
// registry and the loop together, on a real tree.
TEST(ChangeFilter, TurnsThisSystemsChangesIntoTheFoldersWhoseManifestTheyTouch) {
  platform_test::TempFolder t;
  for (const char* folder : {"a", "a/b", "c"}) t.MakeFolder(folder);
  t.WriteFile("c/f0.xml", "");
  std::string problem;
  bool limit = false;
  auto source = os::OpenChangeSource(t.Path(), &problem, &limit);
  ASSERT_NE(source, nullptr) << problem;
  tree::Poller poller(os::SystemFolders(), tree::SystemNameCase());
  tree::WatchRegistry registry(*source, poller);
  os::FolderAccess& access = os::SystemFolders();
  os::FolderHandle top;
  ASSERT_EQ(access.OpenToKeep(t.Path(), &top), 0u);
  auto watch = [&](const std::string& folder) {
    os::FolderHandle handle;
    ASSERT_EQ(access.OpenBeneath(top, folder, &handle), 0u) << folder;
    ASSERT_NE(registry.Watch(folder, handle, access.Identity(handle), &problem),
              os::WatchStart::Failed)
        << problem;
  };
  for (const char* folder : {"", "a", "a\\b", "c"}) watch(folder);
  // As the watch does: a folder first watched from now on comes back.
  registry.Begin();
  WatchLoop loop(*source, registry, 3600);

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
      ASSERT_EQ(loop.Wait(&batch, &problem), WatchLoop::Next::Batch) << problem;
    }
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
