#include "tree/console_reporter.h"

#include "platform/console.h"
#include "platform/process_control.h"
#include "tree/report_words.h"

namespace tree {
namespace {

using os::Stream;

// Progress shows once a run has taken this long, and is redrawn this often.
constexpr double kProgressAfterSeconds = 0.5;
constexpr double kProgressEverySeconds = 0.1;

}  // namespace

ConsoleReporter::ConsoleReporter(const ConsoleOptions& options)
    : quiet_(options.quiet),
      verbose_(options.verbose),
      progress_(!options.quiet && os::IsTerminal(Stream::Err)),
      start_(os::Seconds()) {}

void ConsoleReporter::Say(Stream stream, std::string_view line) {
  std::string text = ForPerson(line);
  text.push_back('\n');
  os::Write(stream, text);
}

void ConsoleReporter::Written(const std::string&, const std::string& shownManifest) {
  if (watching_ && !quiet_) {
    Say(Stream::Out, TimeOfDay() + " " + WroteLine(shownManifest));
  } else if (verbose_) {
    ClearProgress();
    Say(Stream::Out, WroteLine(shownManifest));
  }
}

void ConsoleReporter::Stale(const std::string&, const std::string& shownManifest, bool missing,
                            const IncludeChanges& changes) {
  if (quiet_) return;
  ClearProgress();
  for (const std::string& line : StaleEntry(shownManifest, missing, changes)) {
    Say(Stream::Out, line);
  }
}

void ConsoleReporter::Failed(const std::string&, const Failure& why) { Problem(Words(why)); }

void ConsoleReporter::Noticed(const Notice& notice) { Problem(Words(notice)); }

void ConsoleReporter::Warned(const std::string&, const Warning& warning) {
  ClearProgress();
  Say(Stream::Err, "modmanifest-tree: warning: " + Words(warning));
}

void ConsoleReporter::LeftoverRemoved(const std::string& shownPath) {
  if (verbose_) Say(Stream::Out, RemovedLine(shownPath));
}

void ConsoleReporter::Progress(const Tally& tally, bool checking) {
  if (!progress_) return;
  const double now = os::Seconds();
  if (now - start_ < kProgressAfterSeconds || now - lastProgress_ < kProgressEverySeconds) return;
  lastProgress_ = now;
  std::string line(1, '\r');
  line.append(Counted(tally.folders, "folder", "folders")).append(" visited, ");
  line.append(std::to_string(tally.changed)).append(checking ? " stale..." : " written...");
  if (line.size() < progressWidth_) line.append(progressWidth_ - line.size(), ' ');
  progressWidth_ = line.size();
  os::Write(Stream::Err, line);
}

void ConsoleReporter::Summary(const Tally& tally, bool checking, double seconds) {
  ClearProgress();
  if (!quiet_) Say(Stream::Out, SummaryLine(tally, checking, seconds));
}

void ConsoleReporter::Problem(const RunProblem& why) {
  ClearProgress();
  Say(Stream::Err, "modmanifest-tree: " + Words(why));
}

void ConsoleReporter::Watching(const std::string& shownRoot) {
  watching_ = true;
  if (!quiet_) Say(Stream::Out, WatchingLine(shownRoot) + " (Ctrl-C to stop)");
}

void ConsoleReporter::WatchNote(const Note& note) { Problem(Words(note)); }

// Clears the progress line, so that what follows starts on a clean line.
void ConsoleReporter::ClearProgress() {
  if (progressWidth_ == 0) return;
  std::string blank(1, '\r');
  blank.append(progressWidth_ - 1, ' ').push_back('\r');
  os::Write(Stream::Err, blank);
  progressWidth_ = 0;
}

}  // namespace tree
