// The window's model over real runs: the rows, states, reasons, counts and
// include lines it shows are what the run reported, and a watch's updates
// keep them live without rebuilding the tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <regex>
#include <sstream>

#include "platform/platform.h"
#include "tree/report_words.h"
#include "tree/session.h"
#include "window/engine/run_thread.h"
#include "window/model/manifest_tree.h"
#include "window/model/phrases.h"

namespace fs = std::filesystem;
using window::State;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The string tables of the window's resource script, by language (the
// LANGUAGE statement's first word) and identifier, read as the resource
// compiler reads them: a string's pieces joined ("" a quote, \n a line
// end), a macro among them (the version) as "".
using Tables = std::map<std::string, std::map<unsigned, std::string>>;
struct Resources {
  std::map<std::string, unsigned> ids;  // IDS_ names, from the headers
  Tables tables;
};

const Resources& WindowResources() {
  static const Resources resources = [] {
    Resources read;
    const std::regex define(R"(#define (IDS_\w+) (\d+))");
    for (const char* header : {"/window/win32/resource.h", "/window/model/phrases.h"}) {
      const std::string text = ReadFile(MM_SOURCE_DIR + std::string(header));
      for (std::sregex_iterator it(text.begin(), text.end(), define), end; it != end; ++it) {
        read.ids[(*it)[1]] = static_cast<unsigned>(std::stoul((*it)[2]));
      }
    }
    std::istringstream rc(ReadFile(MM_SOURCE_DIR "/app/window.rc"));
    std::string language, line;
    bool inTable = false;
    while (std::getline(rc, line)) {
      std::istringstream words(line);
      std::string first;
      words >> first;
      if (first == "LANGUAGE") words >> language, language.pop_back();  // "LANG_X,"
      if (first == "STRINGTABLE") inTable = true;
      if (first == "END") inTable = false;
      if (!inTable || read.ids.count(first) == 0) continue;
      std::string text;
      for (size_t i = line.find(first) + first.size(); i < line.size(); ++i) {
        if (line[i] != '"') continue;
        for (++i; i < line.size() && !(line[i] == '"' && (i + 1 == line.size() || line[i + 1] != '"')); ++i) {
          if (line[i] == '"') ++i;  // "" is a quote
          if (line[i] == '\\' && i + 1 < line.size()) text += line[++i] == 'n' ? '\n' : line[i];
          else text += line[i];
        }
      }
      read.tables[language][read.ids[first]] = text;
    }
    return read;
  }();
  return resources;
}

// The model's words in a language of the resource script.
window::Phrases PhrasesOf(const std::string& language) {
  return [&table = WindowResources().tables.at(language)](unsigned id, const std::vector<std::string>& arguments) {
    return window::FillIn(table.at(id), arguments);
  };
}

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
  window::ManifestTree model{PhrasesOf("LANG_ENGLISH")};
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
  EXPECT_EQ(check.Run().status, tree::kExitFailed);  // stale ones found
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

  // The status is the run's summary without its seconds; the rows are
  // counted by state; the stale manifest's lines are --check's.
  EXPECT_EQ(shown.model.StatusText(),
            "5 folders visited, 5 manifests missing or stale, 0 already current, 0 failed, "
            "2 warnings; states as of 12:00:00");
  window::Counts counts = shown.model.Count();
  EXPECT_EQ(counts.folders, 5u);
  EXPECT_EQ(counts.missingOrStale, 5u);
  EXPECT_EQ(counts.skipped, 3u);
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
  EXPECT_EQ(update.Run().status, tree::kExitDone);
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
  EXPECT_EQ(update.Update({{"Data", true}}).status, tree::kExitFailed);
  shown.Drain();
  EXPECT_EQ(shown.model.Find("Data")->state, State::Failed);
  EXPECT_NE(shown.model.Find("Data")->reason.find("a pattern names a folder, not a path"),
            std::string::npos);
  mod.File("Data/.modmanifestignore", "Bu*\n");
  EXPECT_EQ(update.Update({{"Data", true}}).status, tree::kExitDone);
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
  // The status still gives what the full run counted, the rows live and so
  // no time; the rows have moved on.
  EXPECT_EQ(shown.model.StatusText(), tree::SummaryCounts(shown.summary, false));
  EXPECT_NE(shown.model.Count().written, shown.summary.changed);
  const std::vector<std::string>& log = shown.model.Log();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "12:00:00 wrote " + (fs::path(mod.Root()) / "Data" / "New" / "Sub" / "zenter.xml").string()),
            log.end());

  // A full run takes away what it no longer finds.
  mod.Remove("Data/New");
  shown.model.BeginRun(true);
  options.check = true;
  tree::TreeSession recheck(options, shown.queue);
  EXPECT_EQ(recheck.Run().status, tree::kExitFailed);  // Data's manifest is stale now
  shown.Drain();
  EXPECT_EQ(shown.model.Find("Data\\New"), nullptr);
  EXPECT_EQ(shown.model.Find("Data")->state, State::Stale);
  EXPECT_EQ(shown.model.Count().folders, shown.summary.folders);
}

// A watch whose memory runs out (or that is stopped) as the window runs it.
class EndingWatch final : public window::KeepCurrent {
 public:
  explicit EndingWatch(tree::StopReason stop) : stop_(stop) {}
  tree::Outcome Watch(const tree::Options& options, tree::Reporter& reporter,
                      const tree::StopToken&) override {
    reporter.Watching(options.root);
    if (stop_ == tree::StopReason::OutOfMemory) throw std::bad_alloc();
    return {tree::kExitDone, stop_};
  }

 private:
  tree::StopReason stop_;
};

// What the model shows is what the engine said: the manifest's name as the
// run decided it (ROOT typed "data", the folder "Data" on disk: Mod.xml),
// and how a run ended, which leaves the window going.
TEST(WindowModel, ShowsWhatTheRunSaid) {
  Presented shown;
  shown.model.Reset("C:\\mymod\\data");
  shown.model.BeginRun(true);
  shown.queue.Current("", "C:\\mymod\\data\\Mod.xml");
  shown.Drain();
  EXPECT_EQ(shown.model.Details(""), "C:\\mymod\\data\\Mod.xml: current\n");

  // However a watch ends, the log says so and the states become a snapshot.
  const struct {
    tree::StopReason stop;
    const char* log;     // the log's line before the watch's end
    const char* status;  // what the status bar adds to the counts
  } rows[] = {
      {tree::StopReason::OutOfMemory,
       "12:00:00 out of memory; the manifests not yet written are as they were",
       "; out of memory; the manifests not yet written are as they were; states as of 12:00:00"},
      {tree::StopReason::Requested, "12:00:00 watching C:\\mymod\\data for changes", "; states as of 12:00:00"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.stop));
    int ended = -1;
    window::RunThread runs(shown.queue, [&](window::RunThread::Job, int status) { ended = status; },
                           std::make_unique<EndingWatch>(row.stop));
    shown.model.BeginRun(false);
    ASSERT_TRUE(runs.Start(window::RunThread::Job::Watch, tree::Options{"C:\\mymod\\data"}));
    runs.Join();
    shown.Drain();
    shown.model.EndRun();
    EXPECT_EQ(ended, row.stop == tree::StopReason::OutOfMemory ? tree::kExitFailed : tree::kExitDone);
    const std::vector<std::string>& log = shown.model.Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], row.log);
    EXPECT_EQ(log.back(),
              "12:00:00 no longer kept current: the states shown are as of now (Check again looks again)");
    EXPECT_EQ(shown.model.StatusText(),
              "0 folders visited, 0 manifests written, 0 already current, 0 failed" +
                  std::string(row.status));
  }
}

TEST(WindowModel, TheQueueWakesOncePerBatchAndKeepsOneProgress) {
  int wakes = 0;
  window::EventQueue queue([&] { ++wakes; });
  tree::Tally tally;
  for (unsigned long n = 1; n <= 3; ++n) {
    tally.folders = n;
    queue.Progress(tally, true);
  }
  queue.Current("A", "");
  tally.folders = 4;
  queue.Progress(tally, true);
  std::vector<window::RunEvent> events = queue.Take();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].tally.folders, 4u);
  EXPECT_EQ(wakes, 1);
  queue.Current("B", "");
  EXPECT_EQ(wakes, 2);
  EXPECT_EQ(queue.Take().size(), 1u);
}

// A ROOT the engine refuses, or that is gone, is said where the tree was
// and counted as nothing; looked at again once it is there, it shows its
// rows, each name as the console shows it (a line feed as \x0a, a warning
// about ROOT under ROOT's own name).
TEST(WindowModel, SaysARefusalAndShowsNamesAsTheConsoleDoes) {
  Mod mod;
  const std::string root = mod.Root() + "/Data";
  Presented shown;
  shown.model.Reset(root);
  tree::Options options;
  options.root = root;
  options.check = true;
  const auto check = [&] {
    shown.model.BeginRun(true);
    tree::TreeSession session(options, shown.queue);
    shown.queue.Ended(session.Run());
    shown.Drain();
    shown.model.EndRun();
  };
  check();
  EXPECT_EQ(shown.model.Refused(), "no such folder");
  EXPECT_EQ(shown.model.Label(*shown.model.Find("")), "Data \u2014 cannot be opened: no such folder");
  EXPECT_EQ(shown.model.StatusText(), root + " cannot be opened: no such folder");
  EXPECT_EQ(shown.model.Count().folders, 0u);
  EXPECT_TRUE(shown.model.AttentionList().empty());

#ifndef _WIN32  // Windows names hold no control characters
  mod.Folder("Data/nl\nx");
  mod.File("Data/nl\nx/a.xml");
  mod.File("Data/bell\a.xml");
  check();
  EXPECT_EQ(shown.model.Refused(), "");
  const window::Row* odd = shown.model.Find("nl\nx");
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(shown.model.Label(*odd), "nl\\x0ax \u2014 missing");
  const std::string details = shown.model.Details("nl\nx");
  EXPECT_EQ(details.find("nl\nx"), std::string::npos) << details;
  EXPECT_NE(details.find("nl\\x0ax"), std::string::npos) << details;
  bool rootWarning = false;
  for (const window::Attention& line : shown.model.AttentionList()) {
    EXPECT_EQ(line.shown.find('\n'), std::string::npos) << line.shown;
    EXPECT_EQ(line.why.find('\a'), std::string::npos) << line.why;
    if (line.what == "warning" && line.path.empty()) rootWarning = line.shown == "Data";
  }
  EXPECT_TRUE(rootWarning);
#endif
}

// Every string in both languages, with the same numbered arguments, the
// Chinese with its own punctuation; the arguments put in as FormatMessageW
// puts them, reordered as a translation needs.
TEST(WindowModel, EveryTextInBothLanguages) {
  const Resources& read = WindowResources();
  ASSERT_GT(read.ids.size(), 70u);
  const auto& english = read.tables.at("LANG_ENGLISH");
  const auto& chinese = read.tables.at("LANG_CHINESE");
  for (const auto& [name, id] : read.ids) {
    SCOPED_TRACE(name);
    ASSERT_EQ(english.count(id) + chinese.count(id), 2u);
    EXPECT_EQ(window::Arguments(english.at(id)), window::Arguments(chinese.at(id)));
    const std::string& text = chinese.at(id);
    EXPECT_EQ(text.find_first_of(",;:"), std::string::npos) << text;
    for (size_t open = text.find('('); open != std::string::npos; open = text.find('(', open + 1)) {
      EXPECT_EQ(text[open + 1], '&') << text;  // only a mnemonic's: 更新(&U)
    }
  }
  const struct {
    const char* format;
    std::vector<std::string> arguments;
    const char* filled;
  } rows[] = {
      {"%2 in %1", {"Data", "Mod.xml"}, "Mod.xml in Data"},
      {"100%% of %1%n%3", {"50% %2", "x"}, "100% of 50% %2\n%3"},
      {"%10 and %1", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}, "j and a"},
  };
  for (const auto& row : rows) EXPECT_EQ(window::FillIn(row.format, row.arguments), row.filled);

  // In English the window says what the console says, code by code.
  using tree::FailCode, tree::WarnCode, tree::ProblemCode, tree::NoteCode;
  Presented said;
  said.model.Reset("C:\\m");
  const tree::Failure failures[] = {
      {FailCode::CannotList, {"C:\\m\\A"}, 5},
      {FailCode::CannotRead, {"C:\\m\\A\\.modmanifestignore", "C:\\m\\A"}, 32},
      {FailCode::CannotRead, {"C:\\m\\Mod.xml"}, 5},
      {FailCode::CannotWrite, {"C:\\m\\Mod.xml"}, 112},
      {FailCode::WriteRefused, {"C:\\m\\Mod.xml", "is hidden"}},
      {FailCode::IgnoreTooLarge, {"C:\\m\\.modmanifestignore", "1"}},
      {FailCode::IgnoreNotUtf8, {"C:\\m\\.modmanifestignore", "2"}},
      {FailCode::IgnoreControl, {"C:\\m\\.modmanifestignore", "3"}},
      {FailCode::IgnorePath, {"C:\\m\\.modmanifestignore", "4", "Art/Old"}},
  };
  for (const tree::Failure& why : failures) {
    said.queue.Failed("A", why);
    said.Drain();
    EXPECT_EQ(said.model.Log().back(), "12:00:00 " + tree::Words(why));
  }
  for (const tree::Warning& warning :
       {tree::Warning(WarnCode::DataManifest, {"C:\\m\\AData\\Mod.xml", "C:\\m\\AData", "C:\\m\\Mod.xml", "AData\\*.*"}),
        tree::Warning(WarnCode::LeftOut, {"C:\\m\\a\\b", "C:\\m\\Mod.xml", "its name is not valid UTF-8"})}) {
    said.queue.Warned("", warning);
    said.Drain();
    EXPECT_EQ(said.model.Warnings().back().text, tree::Words(warning));
  }
  const tree::RunProblem problems[] = {
      {ProblemCode::NoSuchFolder, {"C:\\m"}},  {ProblemCode::RootHoldsBackslash, {"C:\\m"}},
      {ProblemCode::RootNotAFolder, {"C:\\m"}}, {ProblemCode::RootError, {"C:\\m"}, 5},
      {ProblemCode::WatchUnworkable, {"C:\\m"}}, {ProblemCode::StoppedWatching, {"C:\\m", "the folder was removed"}},
      {ProblemCode::OutputFailed, {}, 232},
  };
  for (const tree::RunProblem& why : problems) {
    said.queue.Problem(why);
    said.Drain();
    EXPECT_EQ(said.model.Log().back(), "12:00:00 " + tree::Words(why));
  }
  for (const tree::Note& note : {tree::Note(NoteCode::CannotWatch, {"C:\\m\\A", "access denied"}),
                                 tree::Note(NoteCode::PollingUnseen, {"C:\\m", "a network share"}),
                                 tree::Note(NoteCode::PollingAsAsked, {"C:\\m", "2.5"})}) {
    said.queue.WatchNote(note);
    said.Drain();
    EXPECT_EQ(said.model.Log().back(), "12:00:00 " + tree::Words(note));
  }
  for (const tree::Notice& notice : {tree::Notice(tree::NoticeCode::Vanished, {""}),
                                     tree::Notice(tree::NoticeCode::BecameLink, {"C:\\m\\A"}),
                                     tree::Notice(tree::NoticeCode::NoFolderAnyMore, {"C:\\m\\A"}),
                                     tree::Notice(tree::NoticeCode::VanishedUnwritten, {"C:\\m\\A\\zenter.xml"})}) {
    said.queue.Noticed(notice);
    said.Drain();
    EXPECT_EQ(said.model.Log().back(), "12:00:00 " + tree::Words(notice));
  }

  // The model in Chinese: counts with their measure words, the entry's
  // words around include lines that stay as they are.
  std::string language = "LANG_CHINESE";
  Presented shown{window::ManifestTree(
      [&](unsigned id, const std::vector<std::string>& arguments) { return PhrasesOf(language)(id, arguments); },
      [](unsigned long error) { return "错误 " + std::to_string(error); })};
  shown.model.Reset("C:\\m");
  shown.model.BeginRun(true);
  tree::IncludeChanges changes;
  changes.added = {"<Include source=\"A.xml\" />"};
  shown.queue.Listed("", {{".git", "hidden", false, tree::NotEntered::DotName},
                          {"Old", "excluded", false, tree::NotEntered::Excluded, "Old*"}});
  shown.queue.Stale("", "C:\\m\\Mod.xml", true, changes);
  shown.queue.Summary(tree::Tally{1, 1, 0, 0, 1, 0}, true, 0.5);
  shown.Drain();
  EXPECT_EQ(shown.model.StatusText(), "已查看 1 个文件夹，1 个清单缺失或过期，0 个已是最新，0 个失败，1 个警告；状态截至 12:00:00");
  EXPECT_EQ(shown.model.Details(""), "C:\\m\\Mod.xml（缺失）\n+ <Include source=\"A.xml\" />\n");
  EXPECT_EQ(shown.model.AttentionList()[0].why, "尚无清单：需添加 1 行 Include");
  EXPECT_EQ(shown.model.Label(*shown.model.Find("")), "m — 缺失");
  EXPECT_EQ(shown.model.Find(".git")->reason, "隐藏：名称以“.”开头");
  EXPECT_EQ(shown.model.Find("Old")->reason, "被 --exclude “Old*”排除");
  // Said in the window's words where the engine says what happened.
  changes = {};
  changes.notCompared = "larger";
  changes.tooLarge = true;
  shown.queue.Stale("", "C:\\m\\Mod.xml", false, changes);
  shown.Drain();
  EXPECT_EQ(shown.model.AttentionList()[0].why, "大于 16 MiB；不比较其中的行");
  shown.queue.Failed("Old", tree::Failure(tree::FailCode::CannotList, {"C:\\m\\Old"}, 5));
  shown.queue.Failed("Old", tree::Failure(tree::FailCode::WriteRefused, {"C:\\m\\Old\\Mod.xml", "is read-only"}));
  shown.queue.Warned("", tree::Warning(tree::WarnCode::LeftOut, {"C:\\m\\a\\b", "C:\\m\\Mod.xml",
                                                               "its name holds \\"}));
  shown.queue.WatchNote(tree::Note(tree::NoteCode::PollingUnseen, {"C:\\m", "a network share"}));
  shown.queue.Noticed(tree::Notice(tree::NoticeCode::BecameLink, {"C:\\m\\Old"}));
  shown.queue.Failed("", tree::Failure(tree::FailCode::IgnorePath, {"C:\\.modmanifestignore", "4", "a/b"}));
  shown.queue.Problem(tree::RunProblem(tree::ProblemCode::NoSuchFolder, {"C:\\m"}));
  shown.Drain();
  EXPECT_EQ(shown.model.Log().end()[-3], "12:00:00 C:\\m\\Old：在运行中变成了链接，未进入");
  EXPECT_EQ(shown.model.Find("")->reason, "C:\\.modmanifestignore，第 4 行：模式只能是文件夹名，不能是路径：“a/b”");
  EXPECT_EQ(shown.model.Find("Old")->reason,
            "无法列出文件夹 C:\\m\\Old：错误 5\n无法写入 C:\\m\\Old\\Mod.xml：该清单是只读的");
  EXPECT_EQ(shown.model.Warnings()[0].text, "C:\\m\\a\\b 未列入 C:\\m\\Mod.xml：名称中含有 \\");
  EXPECT_EQ(shown.model.Log().end()[-4], "12:00:00 正在轮询 C:\\m：网络共享不报告在别处所做的更改");
  EXPECT_EQ(shown.model.Log().back(), "12:00:00 C:\\m：没有这个文件夹");
  shown.queue.Ended({tree::kExitUsage});
  shown.Drain();
  EXPECT_EQ(shown.model.StatusText(), "C:\\m 无法打开：没有这个文件夹");
  // A refusal is said again in the language chosen after it.
  language = "LANG_ENGLISH";
  shown.model.Reworded();
  EXPECT_EQ(shown.model.StatusText(), "C:\\m cannot be opened: no such folder");
}
