// The window's model over real runs: the rows, states, reasons, counts and
// include lines it shows are what the run reported, and a watch's updates
// keep them live without rebuilding the tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/platform.h"
#include "tree/console_reporter.h"
#include "tree/session.h"
#include "window/model/manifest_tree.h"

namespace fs = std::filesystem;
using window::State;

namespace {

class Mod {
 public:
  Mod()
      : root_(fs::temp_directory_path() /
              ("mm-window-" + std::to_string(os::Os().GetCurrentProcessId()))) {
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  ~Mod() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Root() const { return root_.string(); }
  void Folder(const std::string& path) const { fs::create_directories(root_ / path); }
  void File(const std::string& path, const std::string& bytes = "<x/>") const {
    std::ofstream(root_ / path, std::ios::binary) << bytes;
  }
  void Remove(const std::string& path) const { fs::remove_all(root_ / path); }

 private:
  fs::path root_;
};

// A run presented to the model as the window presents it: through the queue,
// taken in batches.
struct Presented {
  window::ManifestTree model;
  int wakes = 0;
  window::EventQueue queue{[this] { ++wakes; }, [] { return std::string("12:00:00"); }};
  tree::Tally summary;

  void Drain() {
    for (const window::RunEvent& event : queue.Take()) {
      if (event.kind == window::RunEvent::Kind::Summary) summary = event.tally;
      model.Apply(event);
    }
  }
  std::map<std::string, State> States() const {
    std::map<std::string, State> states;
    for (const char* path : {"", "Data", "Data\\Units", "Data\\Art", "Data\\.git", "Data\\Build",
                             "Data\\Old", "Data\\Old\\Deep", "Data\\New", "Data\\Units\\Data"}) {
      if (const window::Row* row = model.Find(path)) states[path] = row->state;
    }
    return states;
  }
};

}  // namespace

TEST(WindowModel, ShowsACheckThenAnUpdateThenAWatchsChangesInPlace) {
  Mod mod;
  for (const char* folder : {"Data/Units/Data", "Data/Art", "Data/.git", "Data/Build", "Data/Old/Deep"}) {
    mod.Folder(folder);
  }
  mod.File("Data/Units/Tank.xml");
  mod.File("Data/Units/zenter.xml",
           "<Include type=\"reference\" source=\"DATA:static.xml\" />\r\n"
           "<Include type=\"reference\" source=\"DATA:global.xml\" />\r\n"
           "<Include type=\"reference\" source=\"DATA:audio.xml\" />\r\n"
           "<Include type=\"all\" source=\"Gone.xml\" />\r\n");
  mod.File("Data/.modmanifestignore", "Bu*\n");
  tree::Options options;
  options.root = mod.Root();
  options.excludes = {"Old*"};
  options.check = true;

  Presented shown;
  shown.model.Reset(options.root);
  shown.model.BeginRun(true);
  tree::TreeSession check(options, shown.queue);
  EXPECT_EQ(check.Run(), tree::kExitFailed);  // stale ones found
  shown.Drain();
  EXPECT_EQ(shown.wakes, 1);  // one batch, one wake

  using M = std::map<std::string, State>;
  EXPECT_EQ(shown.States(), (M{{"", State::Missing},
                               {"Data", State::Missing},
                               {"Data\\.git", State::Skipped},
                               {"Data\\Art", State::Missing},
                               {"Data\\Build", State::Skipped},
                               {"Data\\Old", State::Skipped},
                               {"Data\\Units", State::Stale},
                               {"Data\\Units\\Data", State::Missing}}));
  EXPECT_EQ(shown.model.Find("Data\\.git")->reason, "hidden: its name begins with \".\"");
  EXPECT_EQ(shown.model.Find("Data\\Build")->reason,
            "excluded by \"Bu*\" in a .modmanifestignore");
  EXPECT_EQ(shown.model.Find("Data\\Old")->reason, "excluded by --exclude \"Old*\"");
  EXPECT_EQ(shown.model.Find("Data")->children,
            (std::vector<std::string>{"Data\\.git", "Data\\Art", "Data\\Build", "Data\\Old",
                                      "Data\\Units"}));

  // The counts are the summary's; the stale manifest's lines are --check's.
  window::Counts counts = shown.model.Count();
  EXPECT_EQ(counts.folders, shown.summary.folders);
  EXPECT_EQ(counts.missingOrStale, shown.summary.changed);
  EXPECT_EQ(counts.current, shown.summary.current);
  EXPECT_EQ(counts.warnings, shown.summary.warnings);
  EXPECT_EQ(counts.skipped, 3u);
  std::string line = tree::ConsoleReporter::SummaryLine(shown.summary, true, 0);
  EXPECT_EQ(shown.model.StatusText(), line.substr(0, line.rfind(" (")));
  const std::string units = (fs::path(mod.Root()) / "Data" / "Units" / "zenter.xml").string();
  EXPECT_EQ(shown.model.Details("Data\\Units"),
            units + " (stale)\n+ <Include type=\"all\" source=\"Tank.xml\" />\n"
                    "+ <Include type=\"all\" source=\"Data\\zenter.xml\" />\n"
                    "- <Include type=\"all\" source=\"Gone.xml\" />\n");
  // The "Data" case is a warning naming its folder, in the list and the
  // details: ROOT's Data and Units' Data.
  ASSERT_EQ(shown.model.Warnings().size(), 2u);
  EXPECT_EQ(shown.model.Warnings()[1].folder, "Data\\Units\\Data");
  EXPECT_NE(shown.model.Details("Data\\Units\\Data").find("warning: "), std::string::npos);
  const std::vector<window::Attention> attention = shown.model.AttentionList();
  ASSERT_EQ(attention.size(), 7u);  // five manifests, two warnings, in the walk's order
  EXPECT_EQ(attention[2].shown, "Data\\Art\\zenter.xml");
  EXPECT_EQ(attention[2].why, "none yet: 3 include lines to add");
  EXPECT_EQ(attention[3].what, "stale");
  EXPECT_EQ(attention[3].why, "2 include lines to add, 1 to remove");
  EXPECT_EQ(attention[6].what, "warning");

  // The update changes the rows in place: each is redrawn, none taken away
  // and added again (the view keeps its items).
  shown.model.TakeChanges();
  options.check = false;
  shown.model.BeginRun(false);
  tree::TreeSession update(options, shown.queue);
  EXPECT_EQ(update.Run(), tree::kExitDone);
  shown.Drain();
  counts = shown.model.Count();
  EXPECT_EQ(counts.written, 5u);
  EXPECT_EQ(counts.missingOrStale, 0u);
  EXPECT_EQ(shown.model.Find("Data\\Units")->state, State::Written);
  for (const window::ViewChange& change : shown.model.TakeChanges()) {
    EXPECT_EQ(change.kind, window::ViewChange::Kind::Updated) << change.path;
  }

  // A watch's batches: an ignore file that now fails its folder, then, mended,
  // a folder removed and one made.
  mod.Remove("Data/Art");
  mod.Folder("Data/New/Sub");
  mod.File("Data/New/Sub/a.xml");
  mod.File("Data/.modmanifestignore", "Bu*\nOld/Deep\n");
  shown.queue.Watching(options.root);
  EXPECT_EQ(update.Update({{"Data", true}}), tree::kExitFailed);
  shown.Drain();
  EXPECT_EQ(shown.model.Find("Data")->state, State::Failed);
  EXPECT_NE(shown.model.Find("Data")->reason.find("a pattern names a folder, not a path"),
            std::string::npos);
  mod.File("Data/.modmanifestignore", "Bu*\n");
  EXPECT_EQ(update.Update({{"Data", true}}), tree::kExitDone);
  shown.Drain();
  EXPECT_EQ(shown.model.Find("Data\\Art"), nullptr);
  ASSERT_NE(shown.model.Find("Data\\New\\Sub"), nullptr);
  EXPECT_EQ(shown.model.Find("Data\\New\\Sub")->state, State::Written);
  EXPECT_EQ(shown.model.Find("Data\\Old")->state, State::Skipped);
  EXPECT_EQ(shown.model.Find("Data")->state, State::Written);
  std::vector<std::string> removed;
  for (const window::ViewChange& change : shown.model.TakeChanges()) {
    if (change.kind == window::ViewChange::Kind::Removed) {
      removed.push_back(change.path);
    }
  }
  EXPECT_EQ(removed, (std::vector<std::string>{"Data\\Art"}));
  const std::vector<std::string>& log = shown.model.Log();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "12:00:00 wrote " + (fs::path(mod.Root()) / "Data" / "New" / "Sub" / "zenter.xml").string()),
            log.end());

  // A full run takes away what it no longer finds.
  mod.Remove("Data/New");
  shown.model.BeginRun(true);
  options.check = true;
  tree::TreeSession recheck(options, shown.queue);
  EXPECT_EQ(recheck.Run(), tree::kExitFailed);  // Data's manifest is stale now
  shown.Drain();
  EXPECT_EQ(shown.model.Find("Data\\New"), nullptr);
  EXPECT_EQ(shown.model.Find("Data")->state, State::Stale);
  EXPECT_EQ(shown.model.Count().folders, shown.summary.folders);
}

TEST(WindowModel, TheQueueWakesOncePerBatchAndKeepsOneProgress) {
  int wakes = 0;
  window::EventQueue queue([&] { ++wakes; });
  tree::Tally tally;
  for (unsigned long n = 1; n <= 3; ++n) {
    tally.folders = n;
    queue.Progress(tally, true);
  }
  queue.Current("A");
  tally.folders = 4;
  queue.Progress(tally, true);
  std::vector<window::RunEvent> events = queue.Take();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].tally.folders, 4u);
  EXPECT_EQ(wakes, 1);
  queue.Current("B");
  EXPECT_EQ(wakes, 2);
  EXPECT_EQ(queue.Take().size(), 1u);
}
