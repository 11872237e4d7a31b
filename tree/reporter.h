// How a run is presented: the walk, the writer and the watch say what they
// find through this one interface and never print. The console is one
// presenter; a window can be another, showing the same run.
#pragma once

#include <string>
#include <vector>

#include "tree/manifest_diff.h"

namespace tree {

// What a run has done so far.
struct Tally {
  unsigned long folders = 0;
  unsigned long changed = 0;  // written, or found missing or stale
  unsigned long current = 0;
  unsigned long failed = 0;
  unsigned long warnings = 0;
  unsigned long leftovers = 0;  // temporary files of ended runs removed
};

// Why the walk does not enter a sub-folder, for a presenter that says it in
// words of its own.
enum class NotEntered {
  Entered,
  DotName,          // hidden: its name begins with "."
  HiddenAttribute,  // hidden: the hidden or system attribute
  Excluded,         // by an --exclude pattern
  Ignored,          // by a pattern of a .modmanifestignore
  HoldsBackslash,   // its name holds '\': left out
  Link,             // included, never entered
};

// A sub-folder as its folder's listing shows it to the walk.
struct ListedFolder {
  std::string name;
  std::string notEntered;  // why the walk does not enter it (skipped, a link); "" when it does
  bool link = false;       // a link: its parent's manifest includes it all the same
  NotEntered why = NotEntered::Entered;  // notEntered, as what happened
  std::string pattern;                   // Excluded, Ignored: the pattern that matched
};

// What an engine sentence says, as what happened and its values, for a
// presenter that words it in a language of its own; Words (report_words.h)
// words it in English. A plain text is a sentence of code Text, said only
// in English.
template <class Code>
struct Said {
  Said() = default;
  Said(std::string text) : values{std::move(text)} {}  // NOLINT: a text is a sentence too
  Said(Code code, std::vector<std::string> values, unsigned long error = 0)
      : code(code), values(std::move(values)), error(error) {}
  bool operator==(const Said&) const = default;

  Code code{};
  std::vector<std::string> values;  // shown paths, patterns, reasons, as each code says
  unsigned long error = 0;          // the system's error number, 0 for none
};

// Why a folder or one of its files failed.
enum class FailCode {
  Text,          // values: the words
  CannotList,    // values: the shown folder; error
  CannotRead,    // values: the shown file, then the folder skipped for it if any; error
  CannotWrite,   // values: the shown manifest; error
  WriteRefused,  // values: the shown manifest, why ("is read-only")
  // An ignore file that cannot be taken as a list of folder-name patterns.
  IgnoreTooLarge,  // values: the shown file, its limit in MiB
  IgnoreNotUtf8,   // values: the shown file, the line's number
  IgnoreControl,   // values: the shown file, the line's number
  IgnorePath,      // values: the shown file, the line's number, the line
};
using Failure = Said<FailCode>;

// A warning: what no run can satisfy.
enum class WarnCode {
  Text,          // values: the words
  DataManifest,  // values: the shown manifest, the shown folder, its parent's manifest, the entry
  LeftOut,       // values: the shown name, the shown manifest, why
};
using Warning = Said<WarnCode>;

// Why a run cannot begin or go on.
enum class ProblemCode {
  Text,              // values: the words
  NoSuchFolder,      // values: ROOT as given
  NoModAtRoot,       // values: ROOT as given (a drive's, a share's, the file system's root)
  RootHoldsBackslash,  // values: ROOT as given
  RootNotAFolder,    // values: ROOT as given
  RootError,         // values: ROOT as given; error
  CannotWatch,       // values: the shown ROOT, why
  WatchUnworkable,   // values: the shown ROOT (the run could not work in it)
  StoppedWatching,   // values: the shown ROOT, why
  OutputFailed,      // error
};
using RunProblem = Said<ProblemCode>;

// A watch's own remark.
enum class NoteCode {
  Text,            // values: the words
  CannotWatch,     // values: the shown folder, why
  PollingUnseen,   // values: the shown folder, what does not report changes ("a network share")
  PollingAsAsked,  // values: the shown ROOT, the seconds
};
using Note = Said<NoteCode>;

// What the run met that is no failure: a folder no longer there to visit
// or to write in.
enum class NoticeCode {
  Text,              // values: the words
  Vanished,          // values: the shown folder (skipped)
  BecameLink,        // values: the shown folder (not entered)
  NoFolderAnyMore,   // values: the shown folder (skipped)
  VanishedUnwritten, // values: the shown manifest, whose folder vanished
};
using Notice = Said<NoticeCode>;

// Folders are named relative to ROOT ('\' between names, "" for ROOT);
// shown paths are as the user sees them (ROOT as given, then the names). A
// shown manifest is named as the run decided it (Mod.xml or zenter.xml, by
// the folder's name as the file system holds it).
class Reporter {
 public:
  virtual ~Reporter() = default;

  // A folder was listed: its sub-folders in the listing's order, those the
  // walk enters and those it does not, each with why.
  virtual void Listed(const std::string& folder, const std::vector<ListedFolder>& subFolders) = 0;
  // A folder's manifest is already what it should be.
  virtual void Current(const std::string& folder, const std::string& shownManifest) = 0;
  // A manifest took its place.
  virtual void Written(const std::string& folder, const std::string& shownManifest) = 0;
  // Checking: a manifest is missing or stale, and how its include lines
  // would change.
  virtual void Stale(const std::string& folder, const std::string& shownManifest, bool missing,
                     const IncludeChanges& changes) = 0;
  // A folder or one of its files failed: which and why.
  virtual void Failed(const std::string& folder, const Failure& why) = 0;
  // Something the run met that is no failure (a folder that vanished).
  virtual void Noticed(const Notice& notice) = 0;
  // A warning: what no run can satisfy, a name left out of a manifest.
  virtual void Warned(const std::string& folder, const Warning& warning) = 0;
  // A temporary file that a killed run left behind was removed.
  virtual void LeftoverRemoved(const std::string& shownPath) = 0;
  // The full run goes on (for a progress display).
  virtual void Progress(const Tally& tally, bool checking) = 0;
  // The full run is over.
  virtual void Summary(const Tally& tally, bool checking, double seconds) = 0;
  // A stop cuts the run short (an interrupt, the front asking): the batch
  // in hand is abandoned. Why is the outcome the session returns.
  virtual void Stopped() = 0;
  // The run cannot begin or go on (a usage error, standard output failed,
  // the watch broke).
  virtual void Problem(const RunProblem& why) = 0;
  // The watch has begun, or changed what it watches; from now on each
  // manifest written is a change the user made.
  virtual void Watching(const std::string& shownRoot) = 0;
  // The watch's own remarks (a folder it polls, one it cannot watch).
  virtual void WatchNote(const Note& note) = 0;
};

}  // namespace tree
