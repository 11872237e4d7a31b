// The whole-tree tool's command line: modmanifest-tree [OPTIONS] [ROOT].
#pragma once

#include <string>
#include <vector>

#include "modmanifest_version.h"
#include "tree/options.h"

namespace tree {

inline constexpr char kVersion[] = MODMANIFEST_VERSION_SHORT;

// What the command line asks for: a run with these options, or an exit
// status right away (after --help, --version or a usage error, whose text is
// in *message, for standard output when the status is 0 and standard error
// otherwise).
struct ParsedCommandLine {
  bool run = false;
  Options options;
  bool watch = false;  // --watch: keep the tree current until interrupted
  double poll = 0;     // --poll: seconds between two polls of the whole tree; 0: none asked
  int status = kExitDone;
  std::string message;
};

// args: the program's name, then its arguments, as UTF-8.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// Parses, runs and reports; returns the exit status.
int TreeMain(const std::vector<std::string>& args);

}  // namespace tree
