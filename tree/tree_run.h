// The whole-tree run: visits ROOT and every folder beneath it, depth first,
// and brings each folder's manifest up to date (or, checking, reports the
// ones that are not).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tree {

struct Options {
  std::string root;                   // as given; empty: the current folder
  std::vector<std::string> excludes;  // folder-name patterns
  bool check = false;
  bool quiet = false;
  bool verbose = false;
  bool hidden = false;  // visit and include hidden folders too
};

// Exit statuses.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;  // a folder or manifest failed, or --check found one stale
constexpr int kExitUsage = 2;

// Runs the walk and prints its findings and summary. Returns the exit status.
int RunTree(const Options& options);

class TreeWalk;

// A run that can be taken up again: the full run first, then, as often as
// wanted, updates of chosen folders by the same rules (skip rules, the
// writer, warnings, failure reports) without walking the whole tree again.
class TreeSession {
 public:
  // A folder named by its path relative to ROOT: names joined by '\', "" for
  // ROOT itself.
  using RelativePath = std::string;
  // Called for each folder a run or an update visits (lists), before its
  // sub-folders.
  using FolderVisited = std::function<void(const RelativePath& folder)>;
  // Called for each manifest written (not in --check), with its path as the
  // user sees it, once it has taken its place.
  using ManifestWritten = std::function<void(const std::string& shownPath)>;

  struct Folder {
    RelativePath path;
    bool subTree = false;  // the folder and every folder beneath it; else its own manifest only
  };

  explicit TreeSession(const Options& options);
  ~TreeSession();
  TreeSession(const TreeSession&) = delete;
  TreeSession& operator=(const TreeSession&) = delete;

  void OnFolderVisited(FolderVisited visited);
  void OnManifestWritten(ManifestWritten written);

  // The full run, exactly as RunTree: prints its findings and the summary
  // line; returns the exit status. Call once, before any Update.
  int Run();

  // Brings the given folders up to date, each through the ignore files of
  // every folder above it as a full run would. A folder that no longer
  // exists, or that the skip rules now skip, is not written and is no
  // failure. Prints failures and warnings as a run does, but no summary
  // line. kExitDone, or kExitFailed when a folder or manifest failed (or,
  // checking, one was found stale); kExitUsage when Run never succeeded.
  int Update(const std::vector<Folder>& folders);

 private:
  Options options_;
  FolderVisited visited_;
  ManifestWritten written_;
  std::unique_ptr<TreeWalk> walk_;
};

// The English text of a Win32 error, for messages.
std::string ErrorText(unsigned long error);

}  // namespace tree
