#include "tree/tree_cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>

#include "platform/tree_os.h"
#include "tree/tree_watch.h"

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

// A pattern names folders within each folder; a path would never match.
bool IsNamePattern(const std::string& pattern) {
  return !pattern.empty() && pattern.find_first_of("\\/") == std::string::npos;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  Options& options = parsed.options;
  CLI::App app(kDescription, "modmanifest-tree");
  app.footer(kFooter);
  app.set_version_flag("--version", kVersion, "Print the version and exit");
  app.add_option("ROOT", options.root, "The folder whose tree to bring up to date (default: the current folder)");
  auto* check = app.add_flag("--check", options.check,
               "Write nothing; list each missing or stale manifest with the include lines "
               "writing it would add (+) and remove (-); exit 1 if there is one");
  app.add_option("--exclude", options.excludes,
                 "Skip folders whose name matches PATTERN (wildcards * and ?, any case): "
                 "neither visited nor included by their parent's manifest; repeatable")
      ->option_text("PATTERN")
      ->allow_extra_args(false);
  app.add_flag("--watch", parsed.watch,
               "After the run, keep every manifest of the tree current as files and folders "
               "change, until Ctrl-C")
      ->excludes(check);
  auto* quiet = app.add_flag("-q,--quiet", options.quiet, "Print nothing but errors");
  auto* verbose =
      app.add_flag("-v,--verbose", options.verbose, "Name each manifest written or found stale");
  quiet->excludes(verbose);

  // CLI11 takes the arguments last first, without the program's name.
  std::vector<std::string> reversed;
  for (size_t i = args.size(); i > 1; --i) reversed.push_back(args[i - 1]);
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    parsed.message = app.help();
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
  for (const std::string& pattern : options.excludes) {
    if (!IsNamePattern(pattern)) {
      parsed.status = kExitUsage;
      parsed.message = "modmanifest-tree: --exclude takes a folder-name pattern, not a path: \"" +
                       pattern + "\"\n";
      return parsed;
    }
  }
  parsed.run = true;
  return parsed;
}

int TreeMain(const std::vector<std::string>& args) {
  ParsedCommandLine parsed = ParseCommandLine(args);
  int status = parsed.status;
  if (parsed.run) {
    status = parsed.watch ? RunWatch(parsed.options) : RunTree(parsed.options);
  } else {
    os::tree::Write(parsed.status == kExitDone ? os::tree::Stream::Out : os::tree::Stream::Err,
                    parsed.message);
  }
  os::tree::WaitForEnterIfOwnConsole();
  return status;
}

}  // namespace tree
