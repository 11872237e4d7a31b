// A run of the whole-tree tool, which can be taken up again: ROOT resolved
// and opened, the full run, then, as often as wanted, updates of chosen
// folders by the same rules (skip rules, the writer, warnings, failure
// reports) without walking the whole tree again. A stop (an interrupt, a
// stop the front asks for, standard output failing, memory running out)
// abandons the batch in hand and ends the session; the outcome says why.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/folder_access.h"
#include "tree/options.h"
#include "tree/outcome.h"
#include "tree/reporter.h"
#include "tree/root.h"

namespace tree {

class SessionWalk;

class TreeSession {
 public:
  // A folder named by its path relative to ROOT: names joined by '\', "" for
  // ROOT itself.
  using RelativePath = std::string;
  // Called for each folder a run or an update visits (lists), before its
  // sub-folders, with the handle the walk opened it by (relative to its
  // held parent, never through a link): a watch starts from it rather than
  // opening the folder once more.
  using FolderVisited =
      std::function<void(const RelativePath& folder, const os::FolderHandle& handle)>;

  struct Folder {
    RelativePath path;
    bool subTree = false;  // the folder and every folder beneath it; else its own manifest only
  };

  // stop: a stop the front may ask for from another thread (null: none).
  TreeSession(const Options& options, Reporter& reporter,
              os::FolderAccess& access = os::SystemFolders(), const StopToken* stop = nullptr);
  ~TreeSession();
  TreeSession(const TreeSession&) = delete;
  TreeSession& operator=(const TreeSession&) = delete;

  // Called for each folder a run or an update has listed, with the listing
  // (every name, links included): a watch learns from it what only a look
  // can tell, such as whether a link still leads to a folder.
  using FolderListed =
      std::function<void(const RelativePath& folder, const std::vector<os::ListedEntry>& entries)>;

  void OnFolderVisited(FolderVisited visited);
  void OnFolderListed(FolderListed listed);

  // Resolves ROOT and opens it: kExitDone, or kExitUsage after saying why.
  // Run calls it when it has not been called; a watch calls it first, to
  // watch ROOT as the run will see it.
  Outcome Open();
  // The full run: reports its findings and the summary. Call once, before
  // any Update.
  Outcome Run();

  // Brings the given folders up to date, each through the ignore files of
  // every folder above it as a full run would. A folder that no longer
  // exists, or that the skip rules now skip, is not written and is no
  // failure. Reports failures and warnings as a run does, but no summary.
  // kExitDone, or kExitFailed when a folder or manifest failed (or,
  // checking, one was found stale); kExitUsage when Run never succeeded.
  Outcome Update(const std::vector<Folder>& folders);
  // The same, worked on through root, an open ROOT the caller has checked
  // to be the run's, rather than through ROOT opened by its path again.
  Outcome Update(const std::vector<Folder>& folders, std::shared_ptr<os::FolderHandle> root);

  // ROOT as the run resolved it; null when it could not be resolved.
  const Root* ResolvedRoot() const;
  // Whether the run reached ROOT: resolved, the ignore files above it read,
  // ROOT opened.
  bool Reached() const;
  // Reads the ignore files above ROOT again, for the updates that follow.
  // False, with *problem set, when one cannot be used: updates then write
  // nothing.
  bool ReloadIgnoreFilesAbove(Failure* problem);

 private:
  Options options_;
  Reporter& reporter_;
  os::FolderAccess& access_;
  const StopToken* stop_;
  FolderVisited visited_;
  FolderListed listed_;
  std::unique_ptr<SessionWalk> walk_;  // once opened; gone once stopped
};

}  // namespace tree
