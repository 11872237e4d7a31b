#include "tree/cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/console.h"
#include "platform/platform.h"
#include "platform/process_control.h"
#include "tree/report_words.h"
#include "tree/session.h"
#include "tree/watcher.h"

namespace tree {
namespace {

constexpr char kDescription[] =
    "Writes the asset-declaration manifest of ROOT and of every folder beneath it: "
    "Mod.xml in a folder whose path ends in \"Data\", zenter.xml elsewhere, listing the "
    "folder's XML files and each sub-folder's zenter.xml. Only manifests that are missing "
    "or out of date are written.";

constexpr char kFooter[] =
    "Exit status: 0 every manifest written or already current; 1 a folder or manifest "
    "failed, or --check found one missing or stale; 2 usage error.";

constexpr char kPrompt[] =
    "Drop your mod's folder onto this window, or type its path, then press Enter:\n";

// Seconds as a person writes them: digits, with a decimal point at most
// (no sign, blanks, exponent or hexadecimal, which strtod would also take).
bool IsPlainDecimal(std::string_view text) {
  const size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view part = point == std::string_view::npos ? "" : text.substr(point + 1);
  auto digits = [](std::string_view s) { return s.find_first_not_of("0123456789") == std::string_view::npos; };
  return !(whole.empty() && part.empty()) && digits(whole) && digits(part) &&
         (point == std::string_view::npos || !part.empty());
}

// A pattern names folders within each folder; a path would never match.
bool IsNamePattern(const std::string& pattern) {
  return pattern.find_first_of("\\/") == std::string::npos;
}

ParsedCommandLine UsageError(const std::string& text) {
  ParsedCommandLine parsed;
  parsed.status = kExitUsage;
  parsed.message = "modmanifest-tree: " + text + "\n";
  return parsed;
}

// The folder a line typed (or dropped) at the prompt names: surrounding
// blanks and the quotes a dropped path with spaces comes in are taken off.
std::string TypedFolder(std::string_view line) {
  auto trim = [](std::string_view& s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  };
  trim(line);
  if (line.size() >= 2 && line.front() == '"' && line.back() == '"') {
    line = line.substr(1, line.size() - 2);
    trim(line);
  }
  return std::string(line);
}

// The options CLI11 knows, bound to where their values go.
struct OptionSet {
  CLI::App app{kDescription, "modmanifest-tree"};
  CLI::Option* root = nullptr;
  CLI::Option* poll = nullptr;
  std::string pollText;
};

void DeclareOptions(OptionSet* set, ParsedCommandLine* parsed) {
  Options& options = parsed->options;
  CLI::App& app = set->app;
  app.footer(kFooter);
  app.set_version_flag("--version", kVersion, "Print the version and exit");
  set->root = app.add_option(
      "ROOT", options.root,
      "The folder whose tree to bring up to date (default: the current folder; on Windows, "
      "started from Explorer, it asks)");
  auto* check = app.add_flag("--check", options.check,
               "Write nothing; list each missing or stale manifest with the include lines "
               "writing it would add (+) and remove (-); exit 1 if there is one");
  app.add_option("--exclude", options.excludes,
                 "Skip folders whose name matches PATTERN (wildcards * and ?, any case): "
                 "neither visited nor included by their parent's manifest; repeatable; adds to "
                 "the patterns of the .modmanifestignore files")
      ->option_text("PATTERN")
      ->allow_extra_args(false);
  app.add_flag("--hidden", options.hidden,
               "Visit and include hidden folders too (a name starting with a dot, or the "
               "hidden or system attribute), as modmanifest does");
  auto* watch = app.add_flag("--watch", parsed->watch,
                             "After the run, keep every manifest of the tree current as files "
                             "and folders change, until Ctrl-C")
                    ->excludes(check);
  set->poll = app.add_option("--poll", set->pollText,
                             "With --watch: look at every folder every SECONDS (0.2 to 60, "
                             "default 1) rather than trust the system to report changes; "
                             "automatic on shares, WSL's Windows drives and FUSE")
                  ->needs(watch);
  set->poll->option_text("[=SECONDS]");
  auto* quiet = app.add_flag("-q,--quiet", parsed->console.quiet, "Print nothing but errors");
  auto* verbose = app.add_flag("-v,--verbose", parsed->console.verbose,
                               "Name each manifest written or found stale");
  quiet->excludes(verbose);
}

// What CLI11 cannot say: an empty ROOT or --exclude value, a pattern that
// is a path, --poll's seconds out of bounds. Null when the values are
// usable.
std::optional<ParsedCommandLine> CheckValues(const OptionSet& set, ParsedCommandLine* parsed) {
  const Options& options = parsed->options;
#ifdef _WIN32
  // CommandLineToArgvW reads \" as a quote, so "C:\Mod\Data\" (what a batch
  // file's "%~dp0" gives) arrives as C:\Mod\Data". No Windows name holds a
  // quote: one ending ROOT stood for its closing backslash.
  if (options.root.size() > 1 && options.root.back() == '"') parsed->options.root.back() = '\\';
#endif
  // An empty ROOT is an unset variable in a script, not the current folder.
  if (set.root->count() > 0 && options.root.empty()) {
    return UsageError("ROOT is empty; name a folder (\".\" for the current one)");
  }
  for (const std::string& pattern : options.excludes) {
    if (pattern.empty()) return UsageError("--exclude needs a pattern; it was empty");
    if (!IsNamePattern(pattern)) {
      return UsageError("--exclude takes a folder-name pattern, not a path: \"" + pattern + "\"");
    }
  }
  if (set.poll->count() > 0) {
    char* end = nullptr;
    parsed->poll = std::strtod(set.pollText.c_str(), &end);
    if (!IsPlainDecimal(set.pollText) || *end != '\0' || !(parsed->poll >= kShortestPollSeconds) ||
        !(parsed->poll <= kLongestPollSeconds)) {
      return UsageError("--poll takes seconds from 0.2 to 60: \"" + set.pollText + "\"");
    }
  }
  return std::nullopt;
}

// What the process does with a run's outcome: it returns the exit status,
// or ends as an interrupt or memory running out asks.
int Ended(const Outcome& outcome, ConsoleReporter& console) {
  if (outcome.stop == StopReason::Interrupted && outcome.status != kExitDone) {
    // A watch stopped between batches has come to its normal end; a run
    // cut short ends as the signal would have ended it.
    os::EndInterrupted();
  }
  if (outcome.stop == StopReason::OutOfMemory) {
    try {
      console.Problem(StopWords(StopReason::OutOfMemory));
    } catch (...) {
      // Not even the message fits: the exit status still tells.
    }
    std::_Exit(kExitFailed);
  }
  return outcome.status;
}

// The run (or the watch) the command line asks for, presented on the
// console; interrupts are caught from here on, so that a stop removes the
// temporary files in hand before the process ends.
int RunOnConsole(const ParsedCommandLine& parsed) {
  os::SetOutOfMemoryHandler(&UnwindOnOutOfMemory);
  os::WatchInterrupts();
  ConsoleReporter console(parsed.console);
  if (parsed.watch) {
    const StopToken never;  // Ctrl-C ends the console's watch
    return Ended(RunWatch(parsed.options, console, never, parsed.poll), console);
  }
  TreeSession session(parsed.options, console);
  return Ended(session.Run(), console);
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  // CLI11 reads "--exclude=" as --exclude waiting for its value, which would
  // swallow the next argument ("--exclude= --check" would then write).
  for (size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
    if (args[i] == "--exclude=") return UsageError("--exclude needs a pattern; it was empty");
    // The same for --poll=, which would take ROOT for its seconds.
    if (args[i] == "--poll=") return UsageError("--poll= needs seconds from 0.2 to 60; it was empty");
  }
  ParsedCommandLine parsed;
  OptionSet set;
  DeclareOptions(&set, &parsed);
  // CLI11 takes the arguments last first, without the program's name.
  // --poll alone is --poll=1: its seconds come only after '=', so that ROOT
  // after it stays ROOT.
  std::vector<std::string> reversed;
  bool optionsEnded = false;
  for (size_t i = args.size(); i > 1; --i) reversed.push_back(args[i - 1]);
  for (size_t i = reversed.size(); i > 0; --i) {
    optionsEnded = optionsEnded || reversed[i - 1] == "--";
    if (!optionsEnded && reversed[i - 1] == "--poll") reversed[i - 1] = "--poll=1";
  }
  try {
    set.app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    parsed.message = set.app.help();
    return parsed;
  } catch (const CLI::CallForVersion& e) {
    parsed.message = std::string(e.what()) + "\n";
    return parsed;
  } catch (const CLI::ParseError& e) {
    parsed.status = kExitUsage;
    parsed.message = std::string("modmanifest-tree: ") + e.what() +
                     "\nRun with --help for more information.\n";
    return parsed;
  }
  if (std::optional<ParsedCommandLine> wrong = CheckValues(set, &parsed)) return *wrong;
  parsed.run = true;
  return parsed;
}

int TreeMain(const std::vector<std::string>& args) {
  ParsedCommandLine parsed = ParseCommandLine(args);
  const os::Console& console = os::TheConsole();
  // A console of its own: Explorer started the program, whose folder (the
  // Desktop, Downloads) is nobody's mod. It asks instead, and waits at the
  // end so that the summary can be read.
  const bool ownConsole = console.isOwn();
  if (!parsed.run) {
    os::Write(parsed.status == kExitDone ? os::Stream::Out : os::Stream::Err,
                    parsed.message);
  } else if (ownConsole && parsed.options.root.empty()) {
    os::Write(os::Stream::Out, kPrompt);
    std::string line;
    parsed.options.root = console.readLine(&line) ? TypedFolder(line) : std::string();
    if (parsed.options.root.empty()) {
      // The window closes on the same Enter: asked twice would be once too often.
      os::Write(os::Stream::Out, "No folder given; nothing written.\n");
      return kExitDone;
    }
  }
  const int status = parsed.run ? RunOnConsole(parsed) : parsed.status;
  if (ownConsole && !parsed.console.quiet) console.waitForEnter();
  return status;
}

}  // namespace tree
