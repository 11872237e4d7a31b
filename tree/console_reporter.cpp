#include "tree/console_reporter.h"

#include <cstdio>
#include <ctime>

#include "platform/console.h"
#include "platform/process_control.h"
#include "platform/utf8.h"

namespace tree {
namespace {

using os::Stream;

// Progress shows once a run has taken this long, and is redrawn this often.
constexpr double kProgressAfterSeconds = 0.5;
constexpr double kProgressEverySeconds = 0.1;

std::string Count(unsigned long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string ConsoleReporter::TimeOfDay() {
  const std::time_t now = std::time(nullptr);
  char text[16] = "--:--:--";
  if (const std::tm* local = std::localtime(&now)) std::strftime(text, sizeof text, "%H:%M:%S", local);
  return text;
}

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
         elapsed + ")";
}

std::vector<std::string> ConsoleReporter::StaleEntry(const std::string& shownManifest,
                                                     bool missing,
                                                     const IncludeChanges& changes) {
  std::vector<std::string> lines{shownManifest + (missing ? " (missing)" : " (stale)")};
  for (const std::string& line : changes.added) lines.push_back("+ " + line);
  for (const std::string& line : changes.removed) lines.push_back("- " + line);
  if (changes.notCompared != nullptr) {
    lines.push_back(std::string("  (") + changes.notCompared + ")");
  } else if (changes.added.empty() && changes.removed.empty()) {
    lines.push_back(changes.reordered ? "  (the same include lines in another order)"
                                      : "  (the include lines agree; other lines differ)");
  }
  return lines;
}

std::string ConsoleReporter::ForPerson(std::string_view line) {
  std::string shown;
  shown.reserve(line.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(line.data());
  char escape[8];
  for (size_t i = 0; i < line.size();) {
    const os::Utf8Sequence seq = os::ReadUtf8(bytes + i, line.size() - i);
    if (seq.length == 0 || seq.codePoint < 0x20 || seq.codePoint == 0x7F) {
      // A C0 control or a byte that starts no character: by its value.
      std::snprintf(escape, sizeof escape, "\\x%02x", bytes[i]);
      shown += escape;
      ++i;
      continue;
    }
    if (seq.codePoint >= 0x80 && seq.codePoint <= 0x9F) {  // a C1 control
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(seq.codePoint));
      shown += escape;
    } else {
      shown.append(line.substr(i, seq.length));
    }
    i += seq.length;
  }
  return shown;
}

void ConsoleReporter::Say(Stream stream, std::string_view line) {
  std::string text = ForPerson(line);
  text.push_back('\n');
  os::Write(stream, text);
}

void ConsoleReporter::Written(const std::string&, const std::string& shownManifest) {
  if (watching_ && !quiet_) {
    Say(Stream::Out, TimeOfDay() + " wrote " + shownManifest);
  } else if (verbose_) {
    ClearProgress();
    Say(Stream::Out, "wrote " + shownManifest);
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

void ConsoleReporter::Failed(const std::string&, const std::string& text) { Problem(text); }

void ConsoleReporter::Noticed(const std::string& text) { Problem(text); }

void ConsoleReporter::Warned(const std::string&, const std::string& text) {
  ClearProgress();
  Say(Stream::Err, "modmanifest-tree: warning: " + text);
}

void ConsoleReporter::LeftoverRemoved(const std::string& shownPath) {
  if (verbose_) Say(Stream::Out, "removed " + shownPath);
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
  if (!quiet_) Say(Stream::Out, SummaryLine(tally, checking, seconds));
}

void ConsoleReporter::Problem(const std::string& text) {
  ClearProgress();
  Say(Stream::Err, "modmanifest-tree: " + text);
}

void ConsoleReporter::Watching(const std::string& shownRoot) {
  watching_ = true;
  if (!quiet_) Say(Stream::Out, "watching " + shownRoot + " for changes (Ctrl-C to stop)");
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
