#include "tree/report_words.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "platform/utf8.h"
#include "tree/error_text.h"

namespace tree {
namespace {

// Why a stale entry lists no include line.
const char* NoLinesBecause(const IncludeChanges& changes) {
  if (changes.notCompared != nullptr) return changes.notCompared;
  return changes.reordered ? "the same include lines in another order"
                           : "the include lines agree; other lines differ";
}

}  // namespace

std::string Counted(unsigned long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string SummaryCounts(const Tally& tally, bool checking) {
  std::string extra;
  if (tally.warnings > 0) extra = ", " + Counted(tally.warnings, "warning", "warnings");
  if (tally.leftovers > 0) {
    extra += ", " +
             Counted(tally.leftovers, "leftover temporary file", "leftover temporary files") +
             " removed";
  }
  return Counted(tally.folders, "folder", "folders") + " visited, " +
         Counted(tally.changed, "manifest", "manifests") +
         (checking ? " missing or stale, " : " written, ") + std::to_string(tally.current) +
         " already current, " + std::to_string(tally.failed) + " failed" + extra;
}

std::string SummaryLine(const Tally& tally, bool checking, double seconds) {
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, " (%.2f s)", seconds);
  return SummaryCounts(tally, checking) + elapsed;
}

std::vector<std::string> StaleEntry(const std::string& shownManifest, bool missing,
                                    const IncludeChanges& changes) {
  std::vector<std::string> lines{shownManifest + (missing ? " (missing)" : " (stale)")};
  for (const std::string& line : changes.added) lines.push_back("+ " + line);
  for (const std::string& line : changes.removed) lines.push_back("- " + line);
  if (changes.notCompared != nullptr || (changes.added.empty() && changes.removed.empty())) {
    lines.push_back(std::string("  (") + NoLinesBecause(changes) + ")");
  }
  return lines;
}

std::string ChangeInBrief(const IncludeChanges& changes) {
  if (changes.notCompared != nullptr || (changes.added.empty() && changes.removed.empty())) {
    return NoLinesBecause(changes);
  }
  std::string text;
  if (!changes.added.empty()) {
    text = Counted(changes.added.size(), "include line to add", "include lines to add");
  }
  if (!changes.added.empty() && !changes.removed.empty()) text += ", ";
  if (!changes.removed.empty()) text += std::to_string(changes.removed.size()) + " to remove";
  return text;
}

std::string TimeOfDay() {
  const std::time_t now = std::time(nullptr);
  char text[16] = "--:--:--";
  if (const std::tm* local = std::localtime(&now)) std::strftime(text, sizeof text, "%H:%M:%S", local);
  return text;
}

std::string WroteLine(const std::string& shownManifest) { return "wrote " + shownManifest; }

std::string RemovedLine(const std::string& shownPath) { return "removed " + shownPath; }

std::string WatchingLine(const std::string& shownRoot) {
  return "watching " + shownRoot + " for changes";
}

std::string CannotList(const std::string& shown, os::Dword error) {
  return Words(Failure(FailCode::CannotList, {shown}, error));
}

namespace {

// The value at index, "" when there is none.
const std::string& Value(const std::vector<std::string>& values, size_t index) {
  static const std::string none;
  return index < values.size() ? values[index] : none;
}

#ifdef _WIN32
constexpr char kNoModAtRoot[] = ": the root of a drive or share is no mod folder";
#else
constexpr char kNoModAtRoot[] = ": the file system's root is no mod folder";
#endif

}  // namespace

std::string Words(const Failure& why) {
  const auto& v = why.values;
  switch (why.code) {
    case FailCode::Text: break;
    case FailCode::CannotList:
      return "cannot list folder " + Dotted(Value(v, 0)) + ": " + ErrorText(why.error);
    case FailCode::CannotRead:
      return "cannot read " + Value(v, 0) + ": " + ErrorText(why.error) +
             (v.size() > 1 ? "; " + Dotted(v[1]) + " skipped" : "");
    case FailCode::CannotWrite: return "cannot write " + Value(v, 0) + ": " + ErrorText(why.error);
    case FailCode::WriteRefused: return "cannot write " + Value(v, 0) + ": the manifest " + Value(v, 1);
    case FailCode::IgnoreTooLarge:
      return Value(v, 0) + ": larger than " + Value(v, 1) + " MiB; not a list of folder-name patterns";
    case FailCode::IgnoreNotUtf8:
      return Value(v, 0) + ", line " + Value(v, 1) + ": not valid UTF-8 (save the file as UTF-8)";
    case FailCode::IgnoreControl:
      return Value(v, 0) + ", line " + Value(v, 1) + ": holds a control character (save the file as UTF-8)";
    case FailCode::IgnorePath:
      return Value(v, 0) + ", line " + Value(v, 1) + ": a pattern names a folder, not a path: \"" +
             Value(v, 2) + "\"";
  }
  return Value(v, 0);
}

std::string Words(const Warning& warning) {
  const auto& v = warning.values;
  switch (warning.code) {
    case WarnCode::Text: break;
    case WarnCode::DataManifest:
      return Value(v, 0) + " is what " + Dotted(Value(v, 1)) + " gets (its name ends in \"Data\"), but " +
             Value(v, 2) + " includes " + Value(v, 3) + ", which no run writes";
    case WarnCode::LeftOut: return Value(v, 0) + " is left out of " + Value(v, 1) + ": " + Value(v, 2);
  }
  return Value(v, 0);
}

std::string Words(const RunProblem& why) {
  const auto& v = why.values;
  switch (why.code) {
    case ProblemCode::Text: break;
    case ProblemCode::NoSuchFolder: return Value(v, 0) + ": no such folder";
    case ProblemCode::NoModAtRoot: return Value(v, 0) + kNoModAtRoot;
    case ProblemCode::RootHoldsBackslash:
      return Value(v, 0) + ": its real path holds \\, which a manifest's paths cannot carry";
    case ProblemCode::RootNotAFolder: return Value(v, 0) + ": not a folder";
    case ProblemCode::RootError: return Value(v, 0) + ": " + ErrorText(why.error);
    case ProblemCode::CannotWatch: return "cannot watch " + Value(v, 0) + ": " + Value(v, 1);
    case ProblemCode::WatchUnworkable:
      return "cannot watch " + Value(v, 0) + ": the run could not work in it";
    case ProblemCode::StoppedWatching: return "stopped watching " + Value(v, 0) + ": " + Value(v, 1);
    case ProblemCode::OutputFailed: return "cannot write to standard output: " + ErrorText(why.error);
  }
  return Value(v, 0);
}

std::string Words(const Note& note) {
  const auto& v = note.values;
  switch (note.code) {
    case NoteCode::Text: break;
    case NoteCode::CannotWatch:
      return "cannot watch " + Value(v, 0) + ": " + Value(v, 1) + "; changes there go unseen";
    case NoteCode::PollingUnseen:
      return "polling " + Value(v, 0) + ": " + Value(v, 1) + " does not report changes made elsewhere";
    case NoteCode::PollingAsAsked: return "polling " + Value(v, 0) + " every " + Value(v, 1) + " s, as --poll asks";
  }
  return Value(v, 0);
}

std::string Words(const Notice& notice) {
  const auto& v = notice.values;
  switch (notice.code) {
    case NoticeCode::Text: break;
    case NoticeCode::Vanished: return Dotted(Value(v, 0)) + ": folder vanished during the run; skipped";
    case NoticeCode::BecameLink: return Dotted(Value(v, 0)) + ": became a link during the run; not entered";
    case NoticeCode::NoFolderAnyMore: return Dotted(Value(v, 0)) + ": is no folder any more; skipped";
    case NoticeCode::VanishedUnwritten: return Value(v, 0) + ": its folder vanished during the run; not written";
  }
  return Value(v, 0);
}

std::string StopWords(StopReason reason) {
  switch (reason) {
    case StopReason::None: return "";
    case StopReason::OutOfMemory:
      return "out of memory; the manifests not yet written are as they were";
    case StopReason::OutputFailed: return "stopped: standard output failed";
    case StopReason::Interrupted:
    case StopReason::Requested: return "stopped";
  }
  return "";
}

std::string ForPerson(std::string_view line) {
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

}  // namespace tree
