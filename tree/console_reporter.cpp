#include "tree/console_reporter.h"

#include <cstdio>
#include <ctime>

#include "platform/console.h"
#include "platform/process_control.h"

namespace tree {
namespace {

using os::Stream;

// Progress shows once a run has taken this long, and is redrawn this often.
constexpr double kProgressAfterSeconds = 0.5;
constexpr double kProgressEverySeconds = 0.1;

std::string Count(unsigned long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The local time of day, as the lines of a watch begin.
std::string Clock() {
  const std::time_t now = std::time(nullptr);
  char text[16] = "--:--:--";
  if (const std::tm* local = std::localtime(&now)) std::strftime(text, sizeof text, "%H:%M:%S", local);
  return text;
}

}  // namespace

ConsoleReporter::ConsoleReporter(const Options& options)
    : quiet_(options.quiet),
      verbose_(options.verbose),
      progress_(!options.quiet && os::IsTerminal(Stream::Err)),
      start_(os::Seconds()) {}

std::string ConsoleReporter::SummaryLine(const Tally& tally, bool checking, double seconds) {
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.2f s", seconds);
  std::string extra;
  if (tally.warnings > 0) extra = ", " + Count(tally.warnings, "warning", "warnings");
  if (tally.leftovers > 0) {
    extra += ", " +
             Count(tally.leftovers, "leftover temporary file", "leftover temporary files") +
             " removed";
  }
  return Count(tally.folders, "folder", "folders") + " visited, " +
         Count(tally.changed, "manifest", "manifests") +
         (checking ? " missing or stale, " : " written, ") + std::to_string(tally.current) +
         " already current, " + std::to_string(tally.failed) + " failed" + extra + " (" +
         elapsed + ")\n";
}

std::string ConsoleReporter::StaleEntry(const std::string& shownManifest, bool missing,
                                        const IncludeChanges& changes) {
  std::string text = shownManifest + (missing ? " (missing)\n" : " (stale)\n");
  for (const std::string& line : changes.added) text += "+ " + line + "\n";
  for (const std::string& line : changes.removed) text += "- " + line + "\n";
  if (changes.notCompared != nullptr) {
    text += std::string("  (") + changes.notCompared + ")\n";
  } else if (changes.added.empty() && changes.removed.empty()) {
    text += changes.reordered ? "  (the same include lines in another order)\n"
                              : "  (the include lines agree; other lines differ)\n";
  }
  return text;
}

void ConsoleReporter::Written(const std::string&, const std::string& shownManifest) {
  if (watching_ && !quiet_) {
    os::Write(Stream::Out, Clock() + " wrote " + shownManifest + "\n");
  } else if (verbose_) {
    ClearProgress();
    os::Write(Stream::Out, "wrote " + shownManifest + "\n");
  }
}

void ConsoleReporter::Stale(const std::string&, const std::string& shownManifest, bool missing,
                            const IncludeChanges& changes) {
  if (quiet_) return;
  ClearProgress();
  os::Write(Stream::Out, StaleEntry(shownManifest, missing, changes));
}

void ConsoleReporter::Failed(const std::string&, const std::string& text) { Problem(text); }

void ConsoleReporter::Noticed(const std::string& text) { Problem(text); }

void ConsoleReporter::Warned(const std::string&, const std::string& text) {
  ClearProgress();
  os::Write(Stream::Err, "modmanifest-tree: warning: " + text + "\n");
}

void ConsoleReporter::LeftoverRemoved(const std::string& shownPath) {
  if (verbose_) os::Write(Stream::Out, "removed " + shownPath + "\n");
}

void ConsoleReporter::Progress(const Tally& tally, bool checking) {
  if (!progress_) return;
  const double now = os::Seconds();
  if (now - start_ < kProgressAfterSeconds || now - lastProgress_ < kProgressEverySeconds) return;
  lastProgress_ = now;
  std::string line(1, '\r');
  line.append(Count(tally.folders, "folder", "folders")).append(" visited, ");
  line.append(std::to_string(tally.changed)).append(checking ? " stale..." : " written...");
  if (line.size() < progressWidth_) line.append(progressWidth_ - line.size(), ' ');
  progressWidth_ = line.size();
  os::Write(Stream::Err, line);
}

void ConsoleReporter::Summary(const Tally& tally, bool checking, double seconds) {
  ClearProgress();
  if (!quiet_) os::Write(Stream::Out, SummaryLine(tally, checking, seconds));
}

void ConsoleReporter::Problem(const std::string& text) {
  ClearProgress();
  os::Write(Stream::Err, "modmanifest-tree: " + text + "\n");
}

void ConsoleReporter::Watching(const std::string& shownRoot) {
  watching_ = true;
  if (!quiet_) os::Write(Stream::Out, "watching " + shownRoot + " for changes (Ctrl-C to stop)\n");
}

void ConsoleReporter::WatchNote(const std::string& text) { Problem(text); }

// Clears the progress line, so that what follows starts on a clean line.
void ConsoleReporter::ClearProgress() {
  if (progressWidth_ == 0) return;
  std::string blank(1, '\r');
  blank.append(progressWidth_ - 1, ' ').push_back('\r');
  os::Write(Stream::Err, blank);
  progressWidth_ = 0;
}

}  // namespace tree
