// The words a run is reported in, for every presenter: the summary line,
// a stale manifest's entry, what writing a manifest would change, the time
// of day a watch's lines begin with, why a run stopped, and a line made
// safe to show a person. The console prints them; the window shows the same.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "tree/manifest_diff.h"
#include "tree/outcome.h"
#include "tree/paths.h"
#include "tree/reporter.h"

namespace tree {

// "1 folder", "3 folders".
std::string Counted(unsigned long n, const char* one, const char* many);

// The summary line, without its line end: the counts, then the seconds.
std::string SummaryLine(const Tally& tally, bool checking, double seconds);
// The same counts without the seconds, which belong to a run, not to what
// a window shows of the tree.
std::string SummaryCounts(const Tally& tally, bool checking);

// The lines of a --check entry, without their line ends: the manifest and
// whether missing or stale, then the include lines writing it would add (+)
// and remove (-), or why there are none.
std::vector<std::string> StaleEntry(const std::string& shownManifest, bool missing,
                                    const IncludeChanges& changes);
// The same change in a few words: "2 include lines to add, 1 to remove".
std::string ChangeInBrief(const IncludeChanges& changes);

// The local time of day (HH:MM:SS), as the lines of a watch begin.
std::string TimeOfDay();

// The lines of what a watch did, without the time.
std::string WroteLine(const std::string& shownManifest);
std::string RemovedLine(const std::string& shownPath);
std::string WatchingLine(const std::string& shownRoot);

// The message of a folder that cannot be listed.
std::string CannotList(const std::string& shown, os::Dword error);

// The English words of what failed, a warning, why a run cannot go on.
std::string Words(const Failure& why);
std::string Words(const Warning& warning);
std::string Words(const RunProblem& why);
std::string Words(const Note& note);
std::string Words(const Notice& notice);

// Why a run ended early, as a person is told: "out of memory; the manifests
// not yet written are as they were", "stopped".
std::string StopWords(StopReason reason);

// A line as a person is shown it: a control character, and a byte that
// is not UTF-8, written as an escape (\x1b, \u009b), so that a name can
// neither move the cursor nor retitle or recolour the terminal.
std::string ForPerson(std::string_view line);

}  // namespace tree
